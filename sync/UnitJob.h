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
    std::uint64_t done = 0;      // records (or events) sent
    std::uint64_t total = 0;     // records (or events) the run sends
    std::int64_t startedMs = 0;  // monotonic: when its first frame went out
    bool operator==(const JobProgress&) const = default;
};

// A run of frames to the unit longer than a tick: the engine asks it for one frame at a time,
// when the line may take the next, so nothing waits for the line inside a step.  The run keeps
// its own place; the engine sends, paces and ends it.
class UnitJob {
public:
    // A frame of the run, built at the moment it goes out; unpaced frames do not count in the
    // bursts of slower transfer.
    struct Frame {
        CommandFrame frame;
        bool paced = true;
    };
    // How a run ended: every frame out, a frame the line did not take, asked to end (Stop, the
    // program's end) before its last frame, or what it reads from could not be read.
    enum class End : std::uint8_t { whole, lineFault, cutShort, unreadable };

    virtual ~UnitJob() = default;
    virtual JobProgress::Kind kind() const = 0;
    // The next frame, none when the run is through.
    virtual std::optional<Frame> next(const WallTime& now) = 0;
    // The frame next() gave went out whole.
    virtual void sent() = 0;
    virtual std::uint64_t done() const = 0;
    virtual std::uint64_t total() const = 0;
    // Asked to end with the line at baud, still busy for lineBacklogMs with frames handed over
    // before: true when the run goes on to its last frame all the same (a table download that
    // is through within 10 s), false when it ends now.
    virtual bool runsOnWhenAskedToEnd(int baud, bool slowcom, std::int64_t lineBacklogMs) {
        (void)baud;
        (void)slowcom;
        (void)lineBacklogMs;
        return false;
    }
};

}  // namespace kv
