#include "support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kv::test {

namespace {

void makeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) throw std::runtime_error("tcgetattr failed");
    cfmakeraw(&tio);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) throw std::runtime_error("tcsetattr failed");
}

std::runtime_error systemError(const char* what) {
    return std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

PtyPair::PtyPair() {
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) throw systemError("openpty");
    m_slaveName = name;
    makeRaw(m_slave);
    makeRaw(m_master);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
    if (m_slave >= 0) ::close(m_slave);
    if (m_master >= 0) ::close(m_master);
}

void PtyPair::writeMaster(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{m_master, POLLOUT, 0};
            if (::poll(&p, 1, 3000) <= 0) throw std::runtime_error("pty master: write stuck");
            continue;
        }
        throw systemError("pty master write");
    }
}

std::string PtyPair::readMaster(std::size_t n, std::chrono::milliseconds within) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + within;
    std::string got;
    while (got.size() < n) {
        char buffer[512];
        const ssize_t r = ::read(m_master, buffer, std::min(sizeof buffer, n - got.size()));
        if (r > 0) {
            got.append(buffer, std::size_t(r));
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno != EAGAIN) break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0) break;
    }
    return got;
}

std::string PtyPair::drainMaster() {
    std::string got;
    char buffer[512];
    for (;;) {
        const ssize_t r = ::read(m_master, buffer, sizeof buffer);
        if (r > 0) {
            got.append(buffer, std::size_t(r));
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return got;
}

ComPortMapping::ComPortMapping(int port, const std::string& devicePath)
    : m_variable("KVBRIDGE_COM" + std::to_string(port)) {
    if (const char* old = std::getenv(m_variable.c_str())) m_previous = old;
    ::setenv(m_variable.c_str(), devicePath.c_str(), 1);
}

ComPortMapping::~ComPortMapping() {
    if (m_previous) {
        ::setenv(m_variable.c_str(), m_previous->c_str(), 1);
    } else {
        ::unsetenv(m_variable.c_str());
    }
}

CurrentDirectory::CurrentDirectory(const std::filesystem::path& dir)
    : m_previous(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
}

CurrentDirectory::~CurrentDirectory() {
    std::error_code ec;
    std::filesystem::current_path(m_previous, ec);
}

}  // namespace kv::test
