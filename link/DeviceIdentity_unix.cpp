#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "link/DeviceIdentity.h"
#include "link/Logging.h"

namespace kv {

namespace {

namespace fs = std::filesystem;

// The slaves of pseudo-terminals (Linux: majors 136 to 143).
bool isPseudoTerminal(dev_t rdev) { return major(rdev) >= 136 && major(rdev) <= 143; }

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// "0403:6001:A50285BI" for a device on a USB converter that has a serial number: the system
// shows it on the USB device a few levels above the tty.
std::string usbSerial(dev_t rdev) {
    std::error_code ec;
    fs::path dir = fs::canonical(
        fs::path("/sys/dev/char") /
            (std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev))) / "device",
        ec);
    for (int up = 0; !ec && up < 4 && dir.has_relative_path() && dir != "/sys/devices";
         ++up, dir = dir.parent_path()) {
        const std::string serial = firstLine(dir / "serial");
        if (!serial.empty())
            return firstLine(dir / "idVendor") + ":" + firstLine(dir / "idProduct") + ":" + serial;
    }
    return {};
}

DeviceIdentity identityOf(const struct stat& st, const std::string& name) {
    DeviceIdentity id;
    std::error_code ec;
    const fs::path resolved = fs::canonical(name, ec);
    if (ec) {
        id.device = name;
    } else {
        id.device = resolved.string();
        // Against the name made absolute and tidied: "/dev//pts/7" is the device's own name.
        id.viaLink = fs::absolute(name, ec).lexically_normal() != resolved;
        struct stat link {};
        if (id.viaLink && ::lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            id.linkMadeNs = std::int64_t(link.st_ctim.tv_sec) * 1000000000 + link.st_ctim.tv_nsec;
    }
    if (!S_ISCHR(st.st_mode)) return id;
    id.number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    id.usbSerial = usbSerial(st.st_rdev);
    if (isPseudoTerminal(st.st_rdev))
        id.madeNs = std::int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return id;
}

// Lock files go where the serial layer keeps its own, shared with services that have a /tmp of
// their own; /tmp when that is not writable.
fs::path lockFileOf(const std::string& number) {
    std::string name = "kvbridge-tty-" + number + ".lock";
    for (char& c : name)
        if (c == ':') c = '-';
    const fs::path dir = ::access("/run/lock", W_OK) == 0 ? "/run/lock" : "/tmp";
    return dir / name;
}

// "kvbridge 1.1.0 v /srv/x (proces 1234)" from a lock file whose process still lives: its lines
// are the process, the program with its version (older bridges wrote the name alone) and the
// working directory, empty when the holder could not tell it (a directory removed under it).
std::string holderIn(const fs::path& lockFile) {
    std::ifstream in(lockFile);
    std::string pid, program, dir;
    if (!std::getline(in, pid) || !std::getline(in, program)) return {};
    std::getline(in, dir);
    char* end = nullptr;
    const long n = std::strtol(pid.c_str(), &end, 10);
    if (n <= 0 || *end != '\0' || (::kill(pid_t(n), 0) != 0 && errno != EPERM)) return {};
    return program + (dir.empty() ? "" : " v " + dir) + " (proces " + pid + ")";
}

class LockFile final : public DeviceLock {
public:
    LockFile(int fd, fs::path path) : m_fd(fd), m_path(std::move(path)) {}
    ~LockFile() override {
        // Removed while still locked, so nobody takes a file that is about to go.
        ::unlink(m_path.c_str());
        ::close(m_fd);
    }

private:
    int m_fd;
    fs::path m_path;
};

// The lock file taken, or -1; busy tells whether another holds it.
int takeLockFile(const fs::path& path, bool& busy) {
    busy = false;
    // A file removed by its holder between our open and our lock is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            busy = errno == EWOULDBLOCK;
            ::close(fd);
            return -1;
        }
        struct stat held {
        }, now{};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &now) == 0 &&
            held.st_ino == now.st_ino && held.st_dev == now.st_dev)
            return fd;
        ::close(fd);
    }
    return -1;
}

}  // namespace

DeviceIdentity identifyDevice(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) return {};
    return identityOf(st, name);
}

DeviceIdentity identifyOpenDevice(qintptr handle, const std::string& name) {
    struct stat st {};
    if (::fstat(int(handle), &st) != 0) return identifyDevice(name);
    return identityOf(st, name);
}

std::unique_ptr<DeviceLock> lockOpenDevice(qintptr handle, const DeviceIdentity& identity,
                                           std::string& holder) {
    holder.clear();
    const int fd = int(handle);
    // On the device itself: whatever name it was opened by, and for root too.  Closing the
    // device releases it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            qCDebug(lcLink) << "no lock on" << identity.device.c_str() << ":" << strerror(errno);
            return std::make_unique<DeviceLock>();
        }
        if (!identity.number.empty()) holder = holderIn(lockFileOf(identity.number));
        return nullptr;
    }
    if (identity.number.empty()) return std::make_unique<DeviceLock>();
    // By the device number as well, for the message of the next one and for a second node of
    // the same device.
    const fs::path path = lockFileOf(identity.number);
    bool busy = false;
    const int lockFd = takeLockFile(path, busy);
    if (busy) {
        holder = holderIn(path);
        ::flock(fd, LOCK_UN);
        return nullptr;
    }
    if (lockFd < 0) {
        qCDebug(lcLink) << "no lock file" << path.c_str() << ":" << strerror(errno);
        return std::make_unique<DeviceLock>();
    }
    std::error_code ec;
    QString program = QCoreApplication::applicationName();
    if (const QString version = QCoreApplication::applicationVersion(); !version.isEmpty())
        program += QLatin1Char(' ') + version;
    const std::string text = std::to_string(::getpid()) + "\n" + program.toStdString() + "\n" +
                             fs::current_path(ec).string() + "\n";
    if (::ftruncate(lockFd, 0) != 0 || ::write(lockFd, text.data(), text.size()) < 0)
        qCDebug(lcLink) << "lock file" << path.c_str() << "not written:" << strerror(errno);
    return std::make_unique<LockFile>(lockFd, path);
}

std::string deviceHolder(const std::string& name) {
    const DeviceIdentity id = identifyDevice(name);
    return id.number.empty() ? std::string() : holderIn(lockFileOf(id.number));
}

}  // namespace kv
