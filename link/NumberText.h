#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kv {

// Numbers as they are typed in the window, written in the web application's replies and in
// the serial component's terminator codes.

// The value of a digit of base 10 or 16 (either case), -1 for any other character.
int digitValue(char c, int base);
inline bool isHexDigit(char c) { return digitValue(c, 16) >= 0; }
// True when every character is a digit of the base (also for an empty text).
bool allDigits(std::string_view text, int base = 10);

// Digits of the base (at least one, nothing else) with the sign given, within the 32-bit
// signed range.
std::optional<std::int32_t> parseInt32(std::string_view digits, int base, bool negative);
// An optional "+" or "-" and decimal digits, within the 32-bit signed range.
std::optional<std::int32_t> parseInt32(std::string_view text);

}  // namespace kv
