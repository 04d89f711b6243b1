#pragma once

#include <filesystem>
#include <string_view>

#include "link/CommandFrame.h"

namespace kv {

// The bridge's small files (terminal.cfg, the chip-number files): read whole, or created anew
// and written whole.  A failure throws HandlerError with a text for the operator.
Bytes readWholeFile(const std::filesystem::path& path);
void writeFileAnew(const std::filesystem::path& path, std::string_view bytes);

}  // namespace kv
