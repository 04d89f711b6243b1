#pragma once

#include <cstdint>
#include <string>

#include "Options.h"
#include "PtyLine.h"
#include "Unit.h"

namespace kvsim {

// The unit on a pseudo-terminal: waits on the line and on the unit's own deadlines with poll(),
// hands what the bridge sent to the unit and writes what the unit sends.
class Simulator {
public:
    Simulator(const CliOptions& options, Unit::LogSink log, const kv::WallTime& unitClock);

    const std::string& deviceName() const { return m_line.slaveName(); }

    // Runs the unit, then waits until the bridge sends something, the unit has something to do,
    // stopFd (if not -1) becomes readable or maxWaitMs has passed, and runs the unit again.
    // True when stopFd became readable.
    bool step(int maxWaitMs, int stopFd = -1);
    // The unit is done with its events and lingered, or --duration is over.
    bool finished() const;

    Unit& unit() { return m_unit; }
    const Unit& unit() const { return m_unit; }

    // Monotonic milliseconds, the time base of the unit.
    static std::int64_t nowMs();

private:
    void runUnit(std::int64_t nowMs);

    CliOptions m_options;
    Unit::LogSink m_log;
    PtyLine m_line;
    std::int64_t m_startMs;
    Unit m_unit;
    std::int64_t m_lineQuietUntilMs = 0;
};

}  // namespace kvsim
