#include "link/CommandFrame.h"

namespace kv {

std::array<std::uint8_t, kWireFrameSize> wireForm(const CommandFrame& frame) {
    std::array<std::uint8_t, kWireFrameSize> wire{0xF0, 0xF0, 0xA5};
    for (std::size_t i = 0; i < frame.bytes.size(); ++i) wire[3 + i] = frame.bytes[i];
    return wire;
}

void pridejcas(CommandFrame& frame, const WallTime& t) {
    frame[2] = static_cast<std::uint8_t>(t.hour);
    frame[3] = static_cast<std::uint8_t>(t.minute);
    frame[4] = static_cast<std::uint8_t>(t.second);
    frame[5] = static_cast<std::uint8_t>(t.day);
    frame[6] = static_cast<std::uint8_t>(t.month);
    frame[7] = static_cast<std::uint8_t>((t.year - 2000) & 0xFF);
    frame[8] = static_cast<std::uint8_t>(t.dayOfWeek);
    frame[9] = 0;
}

char stripCzechDiacritic(char c) {
    switch (static_cast<unsigned char>(c)) {
        case 0xC1: return 'A';
        case 0xE1: return 'a';
        case 0xC8: return 'C';
        case 0xE8: return 'c';
        case 0xCF: return 'D';
        case 0xEF: return 'd';
        case 0xC9: return 'E';
        case 0xE9: return 'e';
        case 0xCC: return 'E';
        case 0xEC: return 'e';
        case 0xCD: return 'I';
        case 0xED: return 'i';
        case 0xD2: return 'N';
        case 0xF2: return 'n';
        case 0xD3: return 'O';
        case 0xF3: return 'o';
        case 0xD8: return 'R';
        case 0xF8: return 'r';
        case 0x8A: return 'S';
        case 0x9A: return 's';
        case 0x8D: return 'T';
        case 0x9D: return 't';
        case 0xDA: return 'U';
        case 0xFA: return 'u';
        case 0xD9: return 'U';
        case 0xF9: return 'u';
        case 0xDD: return 'Y';
        case 0xFD: return 'y';
        case 0x8E: return 'Z';
        case 0x9E: return 'z';
        default: return c;
    }
}

void pridejmeno(CommandFrame& frame, std::string_view nameCp1250) {
    // The display field is 15 characters: a longer name is cut, a shorter one blank-filled.
    for (int k = 0; k < 15; ++k) {
        const char c = static_cast<std::size_t>(k) < nameCp1250.size() ? nameCp1250[k] : ' ';
        frame[k + 2] = static_cast<std::uint8_t>(stripCzechDiacritic(c));
    }
}

std::string dectohex(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[value / 16], kDigits[value % 16]};
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decimal digits only, at least one; the value is kept modulo 65536 so any length is fine.
std::optional<std::uint16_t> decimal16(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = (value * 10 + static_cast<std::uint32_t>(c - '0')) & 0xFFFF;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<std::uint8_t> hextodec(std::string& hexText) {
    if (hexText.empty()) hexText = "00";
    if (hexText.size() < 2) hexText.insert(0, 1, '0');
    const int high = hexDigit(hexText[0]);
    const int low = hexDigit(hexText[1]);
    if (high < 0 || low < 0) return std::nullopt;
    return static_cast<std::uint8_t>(16 * high + low);
}

std::optional<BytePair> encodeBalance(std::string_view minutesText) {
    const bool negative = !minutesText.empty() && minutesText.front() == '-';
    if (negative) minutesText.remove_prefix(1);
    const std::optional<std::uint16_t> minutes = decimal16(minutesText);
    if (!minutes) return std::nullopt;

    const unsigned hours = *minutes / 60;
    const unsigned rest = *minutes % 60;
    // Bit 7 of the minutes byte adds 100 hours; bit 7 of the hours byte marks a negative balance,
    // or a further 100 hours when the minutes byte has bit 7 too.  227 227 / 227 99 is overflow.
    auto pair = [](unsigned a, unsigned b) {
        return BytePair{static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)};
    };
    if (negative) {
        if (hours < 100) return pair(hours + 128, rest);
        return pair(227, 99);
    }
    if (hours < 100) return pair(hours, rest);
    if (hours < 200) return pair(hours - 100, rest + 128);
    if (hours < 300) return pair(hours - 200 + 128, rest + 128);
    return pair(227, 227);
}

BytePair splitDuration(std::uint16_t minutes) {
    return BytePair{static_cast<std::uint8_t>((minutes / 60) & 0xFF),
                    static_cast<std::uint8_t>(minutes % 60)};
}

}  // namespace kv
