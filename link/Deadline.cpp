#include "link/Deadline.h"

#include <algorithm>

namespace kv {

Deadline Deadline::secondsAhead(Clock& clock, int seconds) {
    const std::int64_t mono = clock.monotonicMs();
    const WallTime wall = clock.now();
    Deadline deadline(clock, mono - wall.millisecond + std::int64_t{seconds} * 1000);
    deadline.m_wallSecond = localSeconds(wall) + seconds;
    return deadline;
}

std::int64_t Deadline::remainingMs() const {
    const std::int64_t left = m_atMs - m_clock->monotonicMs();
    if (left > 0) return left;
    if (m_wallSecond) {
        // The instant comes from two clocks read one after the other, so it can fall a
        // millisecond before the wall clock turns to the second; a wait that ends there lets
        // the caller see the old second once more.  Only that last second is waited out: a
        // clock set back further than that must not hold the wait.
        const WallTime wall = m_clock->now();
        if (localSeconds(wall) == *m_wallSecond - 1) return 1000 - wall.millisecond;
    }
    return 0;
}

std::int64_t Deadline::sliceMs(std::int64_t maxMs) const {
    return std::min(remainingMs(), std::max<std::int64_t>(maxMs, 0));
}

void Deadline::sleepSlice(std::int64_t maxMs) {
    const std::int64_t slice = sliceMs(maxMs);
    if (slice > 0) m_clock->sleepMs(slice);
}

}  // namespace kv
