#pragma once

#include <string_view>

#include "link/CommandFrame.h"

namespace kv {

// A line of the first table section, F1|F2|F3|F4|F5 (index, 12-digit chip, hhmm, number,
// balance in minutes), into bytes 2 to 14.  Blanks around a field are not read; the chip is its
// first 12 characters and the time its first 4, an empty balance is 0.  False, with the frame
// untouched, when the line cannot be converted: a numeric field that is not a decimal integer
// or does not fit, a missing "|", a chip with a character that is not a hexadecimal digit.
bool parseSection1Record(std::string_view line, CommandFrame& frame);

// A line of the second section, F1|F2|F3|F4|F5 (number, number, minutes, minutes, number), into
// bytes 2 to 8.  Blanks around a field are not read; an empty field, or one that is not a
// decimal integer, fails.  (Lines of 5 characters or fewer are not records; the caller
// skips them.)
bool parseSection2Record(std::string_view line, CommandFrame& frame);

}  // namespace kv
