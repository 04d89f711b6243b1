#pragma once

#include <cstdint>
#include <optional>

#include "link/Clock.h"
#include "link/CommandFrame.h"
#include "link/TQCCom32.h"

namespace kv {

// Frames to the unit: each written whole as its wire form (F0 F0 A5 + 16 bytes), and what the
// line still carries reckoned, so that a run can be paced on the line, not only in the program.
class FrameQueue {
public:
    FrameQueue(TQCCom32& com, Clock& clock) : m_com(com), m_clock(clock) {}

    // Writes the frame; true when the line took it whole.  In a paced burst with slower
    // transfer on, every fifth frame sets the pause before the next.
    bool send(const CommandFrame& frame, bool slowTransfer);
    // A run's next frame: a paced one counts towards the burst of five, an unpaced one ends it.
    void pace(bool paced);
    // No burst is counted and no pause runs (a start, a reply taken, a run's end).
    void endBurst();
    // The pause is over at now (and forgotten); false while it still runs.
    bool mayWriteAt(std::int64_t now);
    // When the pause ends (monotonic ms); none while none runs.
    std::optional<std::int64_t> pausedUntil() const { return m_pauseUntilMs; }
    // How long what was written still takes to leave the line (ms).
    std::int64_t backlogMs() const;

private:
    TQCCom32& m_com;
    Clock& m_clock;
    std::uint16_t m_inBurst = 0;      // 0: no pacing; else frames since the last pause
    std::int64_t m_lineFreeAtMs = 0;  // monotonic: when the frames written have left the line
    std::optional<std::int64_t> m_pauseUntilMs;
};

}  // namespace kv
