#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "link/PortProbe.h"

namespace kv {

namespace {

// The device's group when the user is not a member of it (typically dialout), else empty.
std::string groupNotJoined(gid_t group) {
    if (getegid() == group) return {};
    const int n = getgroups(0, nullptr);
    std::vector<gid_t> groups(std::size_t(n > 0 ? n : 0));
    if (n > 0 && getgroups(n, groups.data()) == n)
        for (gid_t g : groups)
            if (g == group) return {};
    const struct group* entry = getgrgid(group);
    return entry != nullptr ? entry->gr_name : std::to_string(group);
}

}  // namespace

PortFailure classifyOpenFailure(const std::string& device, OpenError error,
                                const std::string& systemText) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {PortCause::missing, {}};
        if (errno == EACCES) return {PortCause::noPermission, {}};
        return {PortCause::unknown, systemText};
    }
    if (!S_ISCHR(st.st_mode) || error == OpenError::unsupported) return {PortCause::notSerial, {}};
    if (::access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
        return {PortCause::noPermission, groupNotJoined(st.st_gid)};
    // The device is there and the user may open it: the lock file or the exclusive open of
    // another program stood in the way.
    if (error == OpenError::denied) return {PortCause::busy, {}};
    if (error == OpenError::notFound) return {PortCause::missing, {}};
    return {PortCause::unknown, systemText};
}

std::vector<SerialConverter> serialConverters() {
    std::vector<SerialConverter> found;
    std::error_code ec;
    const std::filesystem::path byId("/dev/serial/by-id");
    for (auto it = std::filesystem::directory_iterator(byId, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        const auto target = std::filesystem::canonical(it->path(), ignored);
        found.push_back({it->path().filename().string(), it->path().string(),
                         ignored ? std::string() : target.string()});
    }
    return found;
}

bool sameDevice(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace kv
