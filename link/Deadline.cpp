#include "link/Deadline.h"

#include <algorithm>

namespace kv {

std::int64_t Deadline::remainingMs() const {
    return std::max<std::int64_t>(m_atMs - m_clock->monotonicMs(), 0);
}

std::int64_t Deadline::sliceMs(std::int64_t maxMs) const {
    return std::min(remainingMs(), std::max<std::int64_t>(maxMs, 0));
}

void Deadline::sleepSlice(std::int64_t maxMs) {
    const std::int64_t slice = sliceMs(maxMs);
    if (slice > 0) m_clock->sleepMs(slice);
}

}  // namespace kv
