#pragma once

// The unit's side of the line: frames read from the bridge and written to it on the
// pseudo-terminal's master side.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Bench.h"

namespace kvbench {

using namespace std::chrono_literals;

struct Received {
    int code = -1;
    std::uint8_t bytes[19]{};
    Clock::time_point at;                        // when its last byte was read
    std::chrono::system_clock::time_point wall;  // the same on the wall clock
};

class UnitSide {
public:
    explicit UnitSide(int fd) : m_fd(fd) {}

    void send(const std::string& bytes) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n != ssize_t(bytes.size())) throw std::runtime_error("short write to the bridge");
    }

    // The next frame from the bridge, waiting up to within; nothing at the time-out.
    std::optional<Received> next(std::chrono::milliseconds within) {
        const auto deadline = Clock::now() + within;
        for (;;) {
            if (auto f = take()) return f;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms) return std::nullopt;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(std::min<long long>(left.count(), 100))) <= 0) continue;
            char buf[1 << 16];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0) continue;
            const auto now = Clock::now();
            const auto wall = std::chrono::system_clock::now();
            for (ssize_t i = 0; i < n; ++i) m_pending.push_back(std::uint8_t(buf[i]));
            m_readAt = now;
            m_readWall = wall;
        }
    }

    // Waits for a frame with this code, skipping others.
    std::optional<Received> nextWithCode(int code, std::chrono::milliseconds within) {
        const auto deadline = Clock::now() + within;
        while (Clock::now() < deadline) {
            auto f = next(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
            if (f && f->code == code) return f;
        }
        return std::nullopt;
    }

    // Drops whatever the bridge sent and has not been read.
    void drain() {
        while (next(50ms)) {
        }
        m_pending.clear();
    }

private:
    std::optional<Received> take() {
        // Every frame starts F0 F0 A5; anything else before one is skipped.
        std::size_t start = 0;
        while (start + 3 <= m_pending.size() &&
               !(m_pending[start] == 0xF0 && m_pending[start + 1] == 0xF0 &&
                 m_pending[start + 2] == 0xA5))
            ++start;
        if (m_pending.size() - start < 19) {
            m_pending.erase(m_pending.begin(), m_pending.begin() + long(start));
            return std::nullopt;
        }
        Received r;
        std::copy_n(m_pending.begin() + long(start), 19, r.bytes);
        r.code = r.bytes[3];
        r.at = m_readAt;
        r.wall = m_readWall;
        m_pending.erase(m_pending.begin(), m_pending.begin() + long(start + 19));
        return r;
    }

    int m_fd;
    std::vector<std::uint8_t> m_pending;
    Clock::time_point m_readAt;
    std::chrono::system_clock::time_point m_readWall;
};

// 'Z' and the 16 bytes of a frame from the unit; bytes not given are 0.
inline std::string unitFrame(std::initializer_list<int> bytes) {
    std::string s(17, '\0');
    s[0] = 'Z';
    int i = 1;
    for (int b : bytes) s[std::size_t(i++)] = char(b);
    return s;
}

// A chip event of the first employee, with the name asked for.
inline std::string eventFrame(int index) {
    return unitFrame({2, (index >> 8) & 0xFF, index & 0xFF, 1, 1, 1, 8, 15, 0, 7, 12, 26, 1});
}

}  // namespace kvbench
