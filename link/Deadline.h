#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "link/Clock.h"

namespace kv {

// The instant a wait runs to, on the clock's monotonic time.  Every wait of the bridge (a frame
// from the unit, the pacing of a burst, the delayed start, a terminator on the line) is one of
// these, so a test clock drives them all and none of them spins.
class Deadline {
public:
    Deadline(Clock& clock, std::int64_t atMs) : m_clock(&clock), m_atMs(atMs) {}
    static Deadline in(Clock& clock, std::int64_t ms) {
        return Deadline(clock, clock.monotonicMs() + ms);
    }
    // The start of the clock second `seconds` ahead of the current one: over once the wall
    // clock shows that second, or, should the clock be set meanwhile, once the time it would
    // have taken has passed.
    static Deadline secondsAhead(Clock& clock, int seconds);

    std::int64_t remainingMs() const;  // 0 once expired
    bool expired() const { return remainingMs() == 0; }
    // The next slice of the wait: what remains, at most maxMs.
    std::int64_t sliceMs(std::int64_t maxMs = std::numeric_limits<std::int64_t>::max()) const;
    // Sleeps through the next slice.
    void sleepSlice(std::int64_t maxMs = std::numeric_limits<std::int64_t>::max());

private:
    Clock* m_clock;
    std::int64_t m_atMs;
    std::optional<std::int64_t> m_wallSecond;  // the second a secondsAhead wait runs to
};

}  // namespace kv
