#pragma once

// The unit's side of the line: frames read from the bridge and written to it on the
// pseudo-terminal's master side.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Bench.h"
#include "link/ToUnitFrameParser.h"

namespace kvbench {

using namespace std::chrono_literals;

struct Received {
    int code = -1;
    kv::CommandFrame frame;
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
            if (!m_frames.empty()) {
                Received r = m_frames.front();
                m_frames.pop_front();
                return r;
            }
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
            const auto nowMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
            for (const kv::CommandFrame& f :
                 m_parser.feed(std::string_view(buf, std::size_t(n)), nowMs.count()))
                m_frames.push_back({f.code(), f, now, wall});
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
        m_parser = {};
    }

private:
    int m_fd;
    // Frames start F0 F0 A5; anything else before one is skipped.
    kv::ToUnitFrameParser m_parser;
    std::deque<Received> m_frames;
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
