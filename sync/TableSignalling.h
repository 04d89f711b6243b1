#pragma once

#include <cstdint>
#include <optional>

#include "link/Clock.h"
#include "sync/PublishedView.h"

namespace kv {

// The tables-changed signalling: the unit is told its tables changed, and told again every 254
// ticks, until it asks for them.  After a failed download the tables are announced again only
// once a back-off has run (30 s, then twice as long each time, at most 10 minutes apart), so
// that a failing server is not asked without pause; a new trigger, the operator's command or
// a whole download ends it.  The back-off is kept here and published with the status.
class TableSignalling {
public:
    TableSignalling(Clock& clock, PublishedView& view) : m_clock(clock), m_view(view) {}

    // The unit is told at the next step (the back-off allowing).
    void announce() { m_countdown = 1; }
    // The unit has asked for its tables, or has them: nothing more is told.
    void stopAnnouncing() { m_countdown = 0; }
    // The unit has the tables, or keeps its own: nothing more is told, and the back-off ends.
    void settled() {
        stopAnnouncing();
        endBackOff();
    }
    // The tables changed (a trigger file): told at the next step, whatever failed before.
    void changed() {
        announce();
        endBackOff();
    }
    // One tick: true when the tables-changed frame is to go out now.
    bool step();

    // A download failed: announced again after the back-off, which grows.
    void downloadFailed();
    void endBackOff();

    // A trigger file (0: zamestnanci, 1: kategorie) that could not be deleted is not watched
    // until the program starts again: it would announce the tables in every tick.
    bool triggerFileFailed(unsigned file) const { return m_triggerFileError & (1u << file); }
    void setTriggerFileFailed(unsigned file) { m_triggerFileError |= 1u << file; }
    // What a program start resets: the announcing, the back-off, the trigger files' errors.
    void reset();

private:
    Clock& m_clock;
    PublishedView& m_view;
    std::uint8_t m_countdown = 0;  // 1: told at the next step; above: ticks to the repetition
    std::uint32_t m_failures = 0;  // table downloads failed in a row
    std::optional<std::int64_t> m_retryAt;  // monotonic: not announced again before
    unsigned m_triggerFileError = 0;        // bit n: trigger file n could not be deleted
};

}  // namespace kv
