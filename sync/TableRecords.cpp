#include "sync/TableRecords.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "link/NumberText.h"

namespace kv {

namespace {

constexpr std::size_t kRestKept = 200;
constexpr std::size_t kLastFieldKept = 100;

using RecordFields = std::array<std::string_view, 5>;

// Blanks around a field are the web application's layout, not its value.
std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// F1..F4 end at the first "|" of what is left, and what is left after each is cut to 200
// characters; F5 is the first 100 characters of the rest.  Each field without its blanks.
std::optional<RecordFields> splitRecord(std::string_view line) {
    RecordFields fields;
    std::string_view rest = line;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t bar = rest.find('|');
        if (bar == std::string_view::npos) return std::nullopt;
        fields[i] = trimmed(rest.substr(0, bar));
        rest = rest.substr(bar + 1, kRestKept);
    }
    fields[4] = trimmed(rest.substr(0, kLastFieldKept));
    return fields;
}

// A decimal integer with an optional sign that fits 32 bits, as the web application's numbers
// are read; the unit's fields take its low 16 (or 8) bits.
std::optional<std::uint16_t> number16(std::string_view text) {
    const auto value = parseInt32(text);
    if (!value) return std::nullopt;
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(*value) & 0xFFFF);
}

std::optional<std::uint8_t> number8(std::string_view text) {
    const auto value = number16(text);
    if (!value) return std::nullopt;
    return static_cast<std::uint8_t>(*value & 0xFF);
}

// The chip's 12 digits, one pair per byte.  A short field completes its pairs as hextodec does
// ("A" is 0A, nothing is 00); what follows the twelfth character is not read.
std::optional<std::array<std::uint8_t, 6>> chipBytes(std::string_view text) {
    text = text.substr(0, 12);
    if (!allDigits(text, 16)) return std::nullopt;
    std::array<std::uint8_t, 6> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t at = 2 * i;
        std::string pair(at < text.size() ? text.substr(at, 2) : std::string_view{});
        const auto value = hextodec(pair);
        if (!value) return std::nullopt;
        bytes[i] = *value;
    }
    return bytes;
}

// "hhmm", left-filled with "0" so that "730" is 07:30; what follows the fourth character is not
// read.
std::optional<BytePair> hourMinute(std::string_view text) {
    text = text.substr(0, 4);
    if (!allDigits(text)) return std::nullopt;
    std::string filled(text);
    if (filled.size() < 4) filled.insert(0, 4 - filled.size(), '0');
    auto two = [&](std::size_t at) {
        return static_cast<std::uint8_t>((filled[at] - '0') * 10 + (filled[at + 1] - '0'));
    };
    return BytePair{two(0), two(2)};
}

}  // namespace

bool parseSection1Record(std::string_view line, CommandFrame& frame) {
    const auto fields = splitRecord(line);
    if (!fields) return false;
    const auto index = number16((*fields)[0]);
    const auto chip = chipBytes((*fields)[1]);
    const auto time = hourMinute((*fields)[2]);
    const auto number = number8((*fields)[3]);
    // A worker without a balance is still a worker the unit must know.
    const auto balance = encodeBalance((*fields)[4].empty() ? "0" : (*fields)[4]);
    if (!index || !chip || !time || !number || !balance) return false;

    frame.setWord(2, *index);
    for (int i = 0; i < 6; ++i) frame[4 + i] = (*chip)[static_cast<std::size_t>(i)];
    frame[10] = time->first;
    frame[11] = time->second;
    frame[12] = *number;
    frame[13] = balance->first;
    frame[14] = balance->second;
    return true;
}

bool parseSection2Record(std::string_view line, CommandFrame& frame) {
    const auto fields = splitRecord(line);
    if (!fields) return false;
    const auto first = number8((*fields)[0]);
    const auto second = number8((*fields)[1]);
    const auto duration1 = number16((*fields)[2]);
    const auto duration2 = number16((*fields)[3]);
    const auto last = number8((*fields)[4]);
    if (!first || !second || !duration1 || !duration2 || !last) return false;

    const BytePair split1 = splitDuration(*duration1);
    const BytePair split2 = splitDuration(*duration2);
    frame[2] = *first;
    frame[3] = *second;
    frame[4] = split1.first;
    frame[5] = split1.second;
    frame[6] = split2.first;
    frame[7] = split2.second;
    frame[8] = *last;
    return true;
}

}  // namespace kv
