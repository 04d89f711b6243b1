#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/Clock.h"
#include "link/FrameCodes.h"

namespace kv {

// Windows-1250 bytes, exactly as they travel on the line, in files and in URLs.
using Bytes = std::string;

// The one 16-byte frame exchanged with the unit.  Bytes are numbered 1 to 16 as in the unit's
// documentation; byte 1 is the FrameCode.
struct CommandFrame {
    std::array<std::uint8_t, 16> bytes{};

    std::uint8_t& operator[](int n) { return bytes.at(static_cast<std::size_t>(n - 1)); }
    std::uint8_t operator[](int n) const { return bytes.at(static_cast<std::size_t>(n - 1)); }
    std::uint8_t code() const { return bytes[0]; }
    ToUnit toUnitCode() const { return static_cast<ToUnit>(bytes[0]); }
    FromUnit fromUnitCode() const { return static_cast<FromUnit>(bytes[0]); }
    void setCode(ToUnit c) { bytes[0] = static_cast<std::uint8_t>(c); }
    void setCode(FromUnit c) { bytes[0] = static_cast<std::uint8_t>(c); }
    // 16-bit value of bytes n and n+1, high byte first.
    std::uint16_t word(int n) const {
        return static_cast<std::uint16_t>((*this)[n] * 256 + (*this)[n + 1]);
    }
    void setWord(int n, std::uint16_t value) {
        (*this)[n] = static_cast<std::uint8_t>(value >> 8);
        (*this)[n + 1] = static_cast<std::uint8_t>(value & 0xFF);
    }
    void clear() { bytes.fill(0); }
    bool operator==(const CommandFrame&) const = default;
};

constexpr std::size_t kWireFrameSize = 19;
// PC to unit: F0 F0 A5 and the 16 frame bytes, nothing else.
std::array<std::uint8_t, kWireFrameSize> wireForm(const CommandFrame& frame);

// Time stamp into bytes 2 to 9: hour, minute, second, day, month, year-2000, weekday, 0.
void pridejcas(CommandFrame& frame, const WallTime& t);
// The six bytes every dated frame carries, from byte `first` on: hour, minute, second, day,
// month, year-2000.  Read back without the day of the week, which they do not carry.
void putTimeStamp(CommandFrame& frame, int first, const WallTime& t);
WallTime timeStampAt(const CommandFrame& frame, int first);

// Worker's name into bytes 2 to 16: Czech diacritics stripped, cut or blank-filled to 15.
void pridejmeno(CommandFrame& frame, std::string_view nameCp1250);
// The unit's display has no Czech letters: the 30 letters with diacritics become plain ones.
char stripCzechDiacritic(char c);

// Byte to two upper-case hexadecimal digits.
std::string dectohex(std::uint8_t value);
// Bytes for the log: "F0 F0 A5", upper-case pairs separated by blanks.
std::string hexDump(std::string_view bytes);
std::string hexDump(std::span<const std::uint8_t> bytes);
// Two hexadecimal digits to a byte.  An empty text becomes "00" and a one-character text gets a
// leading "0"; the completed text is left in hexText.  Characters after the second are ignored.
// nullopt when one of the two digits is not hexadecimal.
std::optional<std::uint8_t> hextodec(std::string& hexText);

struct BytePair {
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    bool operator==(const BytePair&) const = default;
};

// Time balance (minutes with an optional leading "-") to bytes 13 and 14 of a table record.
// nullopt unless the text is an optional "-" followed by at least one decimal digit.
std::optional<BytePair> encodeBalance(std::string_view minutesText);

// Minutes to hours (low 8 bits) and minutes, no flags.
BytePair splitDuration(std::uint16_t minutes);

}  // namespace kv
