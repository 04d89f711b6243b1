#pragma once

#include <cstdint>
#include <optional>

#include "link/Clock.h"
#include "link/CommandFrame.h"
#include "link/TQCCom32.h"
#include "link/UnitFrameReader.h"

namespace kv {

// Frames from the unit: input taken from the port as it arrives, the 'Z' marker searched for,
// the frame read two ticks after its marker, and a frame not yet whole read on until the start
// of the third clock second.  It owns the frame reader and the read's deadline; what a frame
// means is the engine's.
class Reception {
public:
    Reception(TQCCom32& com, Clock& clock) : m_com(com), m_clock(clock) {}

    // Bytes in the reader or still in the port.
    bool inputWaiting();
    // Hands what the port holds to the reader; false when that overflowed it and all input was
    // purged.
    bool collect();
    // Collects what has arrived, if anything: no look that tells the reader the line is quiet.
    void collectArrived() {
        if (m_com.InCount() > 0) collect();
    }
    // Discards everything waiting from the unit, with the frame under way; what was sent to it
    // is left to go out.
    void purge();
    // After a reply: the port's queues are discarded, but a frame whose marker was seen keeps
    // what was read of it and is read in its own time.
    void purgeAfterReply();

    // The tick's steps: the marker searched for, the ticks before the read counted down.
    void searchMarker();
    void settleCountdown();
    // A marker was seen and its frame is not read yet.
    bool underWay() const { return m_settle != 0; }
    // The frame is due to be read (its settle ticks are over).
    bool readDue() const { return m_settle == 1; }

    enum class Read {
        later,  // not whole yet: looked at again when input arrives, at a tick or at wakeAt()
        frame,  // a whole frame
        none,   // none came by the deadline (what came of it is dropped)
    };
    Read read(CommandFrame& frame);
    // When the frame under way is to be looked at again between ticks (monotonic ms).
    std::optional<std::int64_t> wakeAt() const { return readDue() ? m_wakeAt : std::nullopt; }
    // Forgets the frame under way and its deadline (a stop, a start).
    void reset();

    const UnitFrameReader& reader() const { return m_reader; }

private:
    TQCCom32& m_com;
    Clock& m_clock;
    UnitFrameReader m_reader;
    std::uint16_t m_settle = 0;  // a marker seen: counts down, the frame is read at 1
    std::optional<std::int64_t> m_deadline;
    std::optional<std::int64_t> m_wakeAt;
};

}  // namespace kv
