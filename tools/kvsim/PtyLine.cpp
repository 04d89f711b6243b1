#include "PtyLine.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace kvsim {

namespace {

std::system_error systemError(const char* what) {
    return std::system_error(errno, std::generic_category(), what);
}

void makeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) throw systemError("tcgetattr");
    ::cfmakeraw(&tio);
    // The unit's line speed; a pseudo-terminal ignores it, but whoever asks sees the right one.
    ::cfsetispeed(&tio, B2400);
    ::cfsetospeed(&tio, B2400);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) throw systemError("tcsetattr");
}

}  // namespace

PtyLine::PtyLine() {
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) throw systemError("openpty");
    m_slaveName = name;
    try {
        makeRaw(m_slave);
        makeRaw(m_master);
    } catch (...) {
        ::close(m_master);
        ::close(m_slave);
        throw;
    }
    // Packet mode: every read says whether it carries data or news of a purge on the other side.
    int on = 1;
    if (::ioctl(m_master, TIOCPKT, &on) != 0) {
        const auto error = systemError("TIOCPKT");
        ::close(m_master);
        ::close(m_slave);
        throw error;
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

PtyLine::~PtyLine() {
    ::close(m_slave);
    ::close(m_master);
}

std::vector<PtyLine::Event> PtyLine::readAvailable() {
    std::vector<Event> events;
    char buffer[4097];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return events;  // EAGAIN: nothing more for now; EIO: nothing to read
        const auto status = static_cast<unsigned char>(buffer[0]);
        if (status == TIOCPKT_DATA) {
            if (!events.empty() && !events.back().bytes.empty())
                events.back().bytes.append(buffer + 1, static_cast<std::size_t>(n - 1));
            else
                events.push_back({std::string(buffer + 1, static_cast<std::size_t>(n - 1))});
            continue;
        }
        // The slave's output queue is what the bridge wrote; its input queue what the unit wrote.
        const bool output = (status & TIOCPKT_FLUSHWRITE) != 0;
        const bool input = (status & TIOCPKT_FLUSHREAD) != 0;
        if (output || input) events.push_back({{}, output, input});
    }
}

std::size_t PtyLine::write(std::string_view bytes, int stallMs) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return done;
        pollfd p{m_master, POLLOUT, 0};
        if (::poll(&p, 1, stallMs) <= 0) return done;
    }
    return done;
}

}  // namespace kvsim
