#include "link/NumberText.h"

namespace kv {

int digitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    return value < base ? value : -1;
}

bool allDigits(std::string_view text, int base) {
    for (char c : text)
        if (digitValue(c, base) < 0) return false;
    return true;
}

std::optional<std::int32_t> parseInt32(std::string_view digits, int base, bool negative) {
    if (digits.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : digits) {
        const int digit = digitValue(c, base);
        if (digit < 0) return std::nullopt;
        value = value * base + digit;
        if (value > std::int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> parseInt32(std::string_view text) {
    const bool signedText = !text.empty() && (text[0] == '-' || text[0] == '+');
    const bool negative = signedText && text[0] == '-';
    if (signedText) text.remove_prefix(1);
    return parseInt32(text, 10, negative);
}

}  // namespace kv
