#pragma once

#include <cstdint>
#include <optional>

#include "link/Clock.h"
#include "link/CommandFrame.h"

namespace kv {

// How far a run of frames to the unit has come: what the window draws its bar from.  Kind none
// while no run goes on.
struct JobProgress {
    enum class Kind : std::uint8_t { none, tables, fictitiousEvents };
    Kind kind = Kind::none;
    std::uint64_t done = 0;      // records (or events) that have left the line
    std::uint64_t total = 0;     // records (or events) the run sends
    std::int64_t startedMs = 0;  // monotonic: when its first frame went out
    bool operator==(const JobProgress&) const = default;
};

// A run of frames to the unit longer than a tick: the line (UnitLine) asks it for one frame at
// a time, when it may take the next, and tells it each frame that has left.  The run keeps its
// own place and counts; it knows nothing of the line's speed.
class UnitJob {
public:
    // A frame of the run, built at the moment it is handed to the line; unpaced frames do not
    // count in the bursts of slower transfer.
    struct Frame {
        CommandFrame frame;
        bool paced = true;
    };
    // How a run ended: every frame out, the line did not take its frames, the line stood still
    // between two frames longer than the unit waits (unitWaitsMs), asked to end (Stop, the
    // program's end) before its last frame, or what it reads from could not be read.
    enum class End : std::uint8_t { whole, lineFault, lineStood, cutShort, unreadable };

    virtual ~UnitJob() = default;
    virtual JobProgress::Kind kind() const = 0;
    // The next frame, which goes to the line now; none when the run has given its last.
    virtual std::optional<Frame> next(const WallTime& now) = 0;
    // A frame next() gave has left the line (in the order they were given).
    virtual void left(const CommandFrame& frame) = 0;
    // Records (or events) that have left the line.
    virtual std::uint64_t done() const = 0;
    virtual std::uint64_t total() const = 0;
    // The longest the unit waits for the run's next frame (from the last one's end to the next
    // one's); none: each frame stands alone.
    virtual std::optional<std::int64_t> unitWaitsMs() const { return std::nullopt; }
    // Asked to end while what is left of the run takes msToGo on the line: true when it runs
    // on to its last frame all the same (a table download through within 10 s), false when it
    // ends now.
    virtual bool runsOnWhenAskedToEnd(std::int64_t msToGo) {
        (void)msToGo;
        return false;
    }
};

}  // namespace kv
