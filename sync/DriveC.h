#pragma once

#include <filesystem>
#include <string_view>

namespace kv {

// The bridge's fixed files live on drive C: ("c:\lastid", "c:\zamestnanci", ...).  Drive C: is
// the directory KVBRIDGE_DRIVE_C when it is set, otherwise C:\ on Windows and elsewhere the
// working directory, beside terminal.cfg.
std::filesystem::path driveCRoot();
// "c:\apache\lastid" -> <drive C:>/apache/lastid.  The "c:" prefix is matched without regard to
// case; backslashes separate the folders.
std::filesystem::path driveCPath(std::string_view windowsPath);

}  // namespace kv
