#pragma once

#include <filesystem>
#include <string>

namespace kv {

// A path as UTF-8 for the operator's messages and the log, whatever the platform's narrow
// encoding (the working directory may have a name outside the Windows code page).
inline std::string pathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace kv
