#pragma once

#include <cstdint>
#include <optional>

#include "link/Clock.h"
#include "sync/PublishedView.h"

namespace kv {

// Whether the unit answers.  A unit is quiet at night too, so silence alone says nothing; after
// a long quiet it is asked for its statistics (the read-only question of "Aktualizuj statistiku
// RJ"), and an unanswered question is what tells.  It is silent when nothing at all came 10
// minutes after Start (a wrong port, likely), or a question to it (the operator's, or the
// bridge's after 5 quiet minutes, and every 5 minutes while it stays silent) went unanswered
// for 5 s (the unit switched off, its cable pulled).  Any frame from the unit ends it.
class UnitWatch {
public:
    static constexpr std::int64_t kAnswerMs = 5'000;
    static constexpr std::int64_t kSilentMs = 600'000;
    static constexpr std::int64_t kQuietMs = 300'000;

    UnitWatch(Clock& clock, PublishedView& view) : m_clock(clock), m_view(view) {}

    // Communication started (Start, or an unattended start): the first since a Stop counts.
    void started();
    // Stop: nothing is watched until the next Start, and a silence told is over.
    void stopped();
    // A whole frame came from the unit: it is there and the port is the right one.
    void heard();
    // A question went out that the unit answers at once.
    void asked() { m_askedAtMs = m_clock.monotonicMs(); }
    // One look, at a tick.  portLost: the port is away (a failure of its own, not the unit's);
    // busy: a frame is read or a request runs, when the unit may be waiting for an answer of its
    // own.  True when the quiet unit is to be asked for its statistics now (then asked()).
    bool step(bool portLost, bool busy);

private:
    // The unit is silent (spokeBefore: it had spoken since Start, and does not answer now).
    void silent(bool spokeBefore);

    Clock& m_clock;
    PublishedView& m_view;
    std::optional<std::int64_t> m_askedAtMs;    // a question to the unit went out
    std::optional<std::int64_t> m_startedAtMs;  // communication started (Start, a start)
    std::optional<std::int64_t> m_probedAtMs;   // the bridge last asked a quiet unit
    bool m_heardSinceStart = false;
};

}  // namespace kv
