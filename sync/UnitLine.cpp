#include "sync/FrameQueue.h"

#include <algorithm>
#include <string_view>

#include "sync/Logging.h"

namespace kv {

bool FrameQueue::send(const CommandFrame& frame, bool slowTransfer) {
    const auto wire = wireForm(frame);
    // The unit sees the same 19 bytes whether they go in one write or in nineteen; one write
    // keeps a long table download within what the line can carry.
    const bool whole =
        m_com.WriteText(std::string_view(reinterpret_cast<const char*>(wire.data()), wire.size()))
            .done();
    qCDebug(lcSync) << (whole ? "sent" : "not sent whole") << hexDump(wire).c_str();
    // The write returns once the system holds the bytes; they leave the line later, one start,
    // eight data and one stop bit each.
    const std::int64_t lineMs = std::int64_t(wire.size()) * 10 * 1000 / std::max(m_com.Baud(), 1);
    m_lineFreeAtMs = std::max(m_lineFreeAtMs, m_clock.monotonicMs()) + lineMs;

    // Pacing: in a burst with slowcom ticked, after every fifth frame the next waits for the
    // start of the next clock second (after second 59, for second 1) after the frame has left
    // the line, so that a converter that needs the pause gets it on the line, not only in the
    // program.
    if (m_inBurst != 0) ++m_inBurst;
    if (m_inBurst > 5 && slowTransfer) {
        // One reading of the clock: a second read across a second boundary would wait a second
        // too long.
        const std::int64_t mono = m_clock.monotonicMs();
        const WallTime wall = m_clock.now();
        const std::int64_t outMs = wall.second * 1000 + wall.millisecond +
                                   std::max<std::int64_t>(m_lineFreeAtMs - mono, 0);
        const std::int64_t outSecond = outMs / 1000;
        const std::int64_t secondsAhead = outSecond + (outSecond % 60 == 59 ? 2 : 1) - wall.second;
        m_pauseUntilMs = mono - wall.millisecond + secondsAhead * 1000;
        m_inBurst = 1;
    }
    return whole;
}

void FrameQueue::pace(bool paced) {
    if (!paced)
        m_inBurst = 0;
    else if (m_inBurst == 0)
        m_inBurst = 1;
}

void FrameQueue::endBurst() {
    m_inBurst = 0;
    m_pauseUntilMs.reset();
}

bool FrameQueue::mayWriteAt(std::int64_t now) {
    if (m_pauseUntilMs && now < *m_pauseUntilMs) return false;
    m_pauseUntilMs.reset();
    return true;
}

std::int64_t FrameQueue::backlogMs() const {
    return std::max<std::int64_t>(m_lineFreeAtMs - m_clock.monotonicMs(), 0);
}

}  // namespace kv
