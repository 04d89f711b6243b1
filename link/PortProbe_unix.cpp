#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "link/DeviceIdentity.h"
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

// The device a name leads to, when it leads to a character device.
bool characterDevice(const std::string& name, dev_t& rdev) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    rdev = st.st_rdev;
    return true;
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
    if (error == OpenError::denied) return {PortCause::busy, deviceHolder(device)};
    if (error == OpenError::notFound) return {PortCause::missing, {}};
    return {PortCause::unknown, systemText};
}

std::string stableDeviceName(const std::string& device) {
    dev_t wanted = 0;
    if (!characterDevice(device, wanted)) return device;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/dev/serial/by-id", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        dev_t rdev = 0;
        if (characterDevice(it->path().string(), rdev) && rdev == wanted)
            return it->path().string();
    }
    return device;
}

std::string shownDeviceName(const std::string& device) { return device; }

bool endsForGoodWhenLost(const std::string& device) { return device.rfind("/dev/pts/", 0) == 0; }

bool sameDevice(const std::string& a, const std::string& b) {
    // Two names of a device node are one device when they lead to the same device number; the
    // standard library's equivalence refuses to compare devices at all.
    dev_t da = 0, db = 0;
    if (characterDevice(a, da) && characterDevice(b, db)) return da == db;
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

QString noPermissionText(const std::string& group) {
    const struct passwd* user = getpwuid(geteuid());
    const QString userName =
        user != nullptr ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("UŽIVATEL");
    const QString groupName =
        group.empty() ? QStringLiteral("dialout") : QString::fromLocal8Bit(group.c_str());
    return QStringLiteral(
               "nemáte oprávnění; přidejte uživatele do skupiny %1: sudo adduser %2 %1, pak se "
               "odhlaste a znovu přihlaste")
        .arg(groupName, userName);
}

}  // namespace kv
