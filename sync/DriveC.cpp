#include "sync/DriveC.h"

#include <cstdlib>

namespace kv {

std::filesystem::path defaultDriveCRoot();  // per platform

std::filesystem::path driveCRoot() {
    if (const char* root = std::getenv("KVBRIDGE_DRIVE_C"); root != nullptr && *root != '\0')
        return std::filesystem::path(root);
    return defaultDriveCRoot();
}

std::filesystem::path driveCPath(std::string_view windowsPath) {
    if (windowsPath.size() >= 2 && (windowsPath[0] == 'c' || windowsPath[0] == 'C') &&
        windowsPath[1] == ':')
        windowsPath.remove_prefix(2);
    std::filesystem::path result = driveCRoot();
    std::string_view rest = windowsPath;
    while (!rest.empty()) {
        const std::size_t sep = rest.find('\\');
        const std::string_view part = rest.substr(0, sep);
        if (!part.empty()) result /= std::string(part);
        if (sep == std::string_view::npos) break;
        rest.remove_prefix(sep + 1);
    }
    return result;
}

}  // namespace kv
