#pragma once

#include <string>
#include <string_view>

#include "link/CommandFrame.h"

namespace kvsim {

// Readable forms of frames for the log.

// Six bytes from byte `first` on as 12 hex digits without spaces (chip and card numbers).
std::string chipHex(const kv::CommandFrame& f, int first);
// Bytes 2 to 16 of an answer: the name, trailing and leading blanks removed.
std::string trimmedName(const kv::CommandFrame& f);

std::string describeFromBridge(const kv::CommandFrame& f);
std::string describeFromUnit(const kv::CommandFrame& f);

}  // namespace kvsim
