#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Unit.h"
#include "link/CommandFrame.h"

namespace kvsim::test {

// Plays the bridge against a Unit on a fake time line: what the unit writes is collected with
// the instant it was written, and time only moves when the test says so.
class UnitDriver {
public:
    // 14:05:09 on Sunday 7 March 2027
    static constexpr kv::WallTime kStartClock{2027, 3, 7, 14, 5, 9};

    explicit UnitDriver(UnitOptions options)
        : unit(std::move(options), 0, kStartClock,
               [this](std::string_view l) { log.emplace_back(l); }) {
        collect();
    }

    struct Sent {
        std::int64_t atMs;
        std::string bytes;
    };

    // Moves time to `targetMs`, waking the unit whenever it asked to be woken, as the real loop
    // does.  A unit that asks to be woken without moving on would spin: that fails the test.
    void runUntil(std::int64_t targetMs) {
        for (int wakes = 0;; ++wakes) {
            ASSERT_LT(wakes, 100000)
                << "the unit keeps asking to be woken at " << unit.nextWakeMs();
            const std::int64_t wake = unit.nextWakeMs();
            if (wake > targetMs) break;
            nowMs = std::max(nowMs, wake);
            unit.advance(nowMs);
            collect();
        }
        nowMs = targetMs;
        unit.advance(nowMs);
        collect();
    }
    void runFor(std::int64_t ms) { runUntil(nowMs + ms); }

    // The bridge sends a frame: F0 F0 A5 and the 16 bytes.
    void bridgeSends(const kv::CommandFrame& f) {
        const auto wire = kv::wireForm(f);
        bridgeSendsBytes(std::string(wire.begin(), wire.end()));
    }
    void bridgeSendsBytes(const std::string& bytes) {
        unit.onBytes(bytes, nowMs);
        unit.advance(nowMs);
        collect();
    }
    static kv::CommandFrame frame(std::uint8_t code, std::vector<std::uint8_t> rest = {}) {
        kv::CommandFrame f;
        f[1] = code;
        for (std::size_t i = 0; i < rest.size() && i < 15; ++i)
            f[static_cast<int>(i) + 2] = rest[i];
        return f;
    }
    // The answer to an event: "OK, no name" or the name, blank-filled to 15.
    void answer(const std::string& name = {}) {
        kv::CommandFrame f = frame(6);
        if (!name.empty()) kv::pridejmeno(f, name);
        bridgeSends(f);
    }

    // Frames the unit wrote since the last call: each write split at its 'Z' markers into
    // 'Z' + 16 bytes (fails on anything else).
    std::vector<kv::CommandFrame> takeFrames() {
        std::vector<kv::CommandFrame> frames;
        for (const Sent& s : takeWrites()) {
            std::string_view b = s.bytes;
            while (!b.empty()) {
                EXPECT_GE(b.size(), 17u) << "short frame";
                EXPECT_EQ(b[0], 'Z');
                if (b.size() < 17) break;
                kv::CommandFrame f;
                for (int n = 1; n <= 16; ++n)
                    f[n] = static_cast<std::uint8_t>(b[static_cast<std::size_t>(n)]);
                frames.push_back(f);
                b.remove_prefix(17);
            }
        }
        return frames;
    }
    std::vector<Sent> takeWrites() {
        std::vector<Sent> w;
        w.swap(writes);
        return w;
    }
    // Runs until the unit writes something, at most `withinMs`; the frame it wrote.
    kv::CommandFrame nextFrame(std::int64_t withinMs = 60000) {
        const std::int64_t end = nowMs + withinMs;
        while (writes.empty() && nowMs < end)
            runUntil(std::max(nowMs + 1, std::min(end, unit.nextWakeMs())));
        auto frames = takeFrames();
        EXPECT_EQ(frames.size(), 1u);
        return frames.empty() ? kv::CommandFrame{} : frames.front();
    }

    std::int64_t nowMs = 0;
    std::vector<std::string> log;
    std::vector<Sent> writes;
    Unit unit;

private:
    void collect() {
        std::string out = unit.takeOutput();
        if (!out.empty()) writes.push_back({nowMs, std::move(out)});
    }
};

// Bytes first to last of a frame, for comparing a stretch of it.
inline std::vector<int> bytes(const kv::CommandFrame& f, int first, int last) {
    std::vector<int> out;
    for (int n = first; n <= last; ++n) out.push_back(f[n]);
    return out;
}

inline UnitOptions quickOptions() {
    UnitOptions o;
    o.waitForBridge = false;
    return o;
}

}  // namespace kvsim::test
