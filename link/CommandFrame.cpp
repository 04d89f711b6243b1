#include "link/CommandFrame.h"

#include <algorithm>

#include "link/NumberText.h"

namespace kv {

std::array<std::uint8_t, kWireFrameSize> wireForm(const CommandFrame& frame) {
    std::array<std::uint8_t, kWireFrameSize> wire{0xF0, 0xF0, 0xA5};
    for (std::size_t i = 0; i < frame.bytes.size(); ++i) wire[3 + i] = frame.bytes[i];
    return wire;
}

void putTimeStamp(CommandFrame& frame, int first, const WallTime& t) {
    frame[first] = static_cast<std::uint8_t>(t.hour);
    frame[first + 1] = static_cast<std::uint8_t>(t.minute);
    frame[first + 2] = static_cast<std::uint8_t>(t.second);
    frame[first + 3] = static_cast<std::uint8_t>(t.day);
    frame[first + 4] = static_cast<std::uint8_t>(t.month);
    frame[first + 5] = static_cast<std::uint8_t>((t.year - 2000) & 0xFF);
}

WallTime timeStampAt(const CommandFrame& frame, int first) {
    WallTime t;
    t.hour = frame[first];
    t.minute = frame[first + 1];
    t.second = frame[first + 2];
    t.day = frame[first + 3];
    t.month = frame[first + 4];
    t.year = 2000 + frame[first + 5];
    return t;
}

void pridejcas(CommandFrame& frame, const WallTime& t) {
    putTimeStamp(frame, 2, t);
    frame[8] = static_cast<std::uint8_t>(t.dayOfWeek);
    frame[9] = 0;
}

namespace {

struct Plain {
    unsigned char withDiacritic;
    char plain;
};

// The 30 Czech letters with diacritics, by their Windows-1250 codes.
constexpr Plain kCzechLetters[] = {
    {0xC1, 'A'}, {0xE1, 'a'}, {0xC8, 'C'}, {0xE8, 'c'}, {0xCF, 'D'}, {0xEF, 'd'},
    {0xC9, 'E'}, {0xE9, 'e'}, {0xCC, 'E'}, {0xEC, 'e'}, {0xCD, 'I'}, {0xED, 'i'},
    {0xD2, 'N'}, {0xF2, 'n'}, {0xD3, 'O'}, {0xF3, 'o'}, {0xD8, 'R'}, {0xF8, 'r'},
    {0x8A, 'S'}, {0x9A, 's'}, {0x8D, 'T'}, {0x9D, 't'}, {0xDA, 'U'}, {0xFA, 'u'},
    {0xD9, 'U'}, {0xF9, 'u'}, {0xDD, 'Y'}, {0xFD, 'y'}, {0x8E, 'Z'}, {0x9E, 'z'},
};

}  // namespace

char stripCzechDiacritic(char c) {
    for (const Plain& letter : kCzechLetters)
        if (letter.withDiacritic == static_cast<unsigned char>(c)) return letter.plain;
    return c;
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

std::string hexDump(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        if (!out.empty()) out += ' ';
        out += dectohex(static_cast<std::uint8_t>(c));
    }
    return out;
}

std::string hexDump(std::span<const std::uint8_t> bytes) {
    return hexDump(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::optional<std::uint8_t> hextodec(std::string& hexText) {
    if (hexText.empty()) hexText = "00";
    if (hexText.size() < 2) hexText.insert(0, 1, '0');
    const int high = digitValue(hexText[0], 16);
    const int low = digitValue(hexText[1], 16);
    if (high < 0 || low < 0) return std::nullopt;
    return static_cast<std::uint8_t>(16 * high + low);
}

std::optional<BytePair> encodeBalance(std::string_view minutesText) {
    const bool negative = !minutesText.empty() && minutesText.front() == '-';
    if (negative) minutesText.remove_prefix(1);
    if (minutesText.empty() || !allDigits(minutesText)) return std::nullopt;
    // A magnitude beyond 16 bits is overflow, never a wrapped, plausible balance.
    std::uint32_t minutes = 0;
    for (char c : minutesText)
        minutes = std::min<std::uint32_t>(minutes * 10 + std::uint32_t(digitValue(c, 10)), 65536);

    const unsigned hours = minutes / 60;
    const unsigned rest = minutes % 60;
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
