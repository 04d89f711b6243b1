#include "support/BridgeTimers.h"

#include <algorithm>

namespace kv::test {

bool tickAsTheBridgeDoes(Engine& engine, FakeClock& clock, FakeSerialLine& line) {
    engine.tick();
    const std::int64_t next = clock.monotonicMs() + 100;
    for (;;) {
        const std::int64_t now = clock.monotonicMs();
        std::int64_t at = next;
        if (const auto due = engine.wakeDueMs()) at = std::min(at, std::max(*due, now));
        const bool input = !line.arrivals.empty() && line.arrivals.front().atMs < at;
        if (input) at = std::max(line.arrivals.front().atMs, now);
        if (at >= next) break;
        clock.advanceMs(at - now);
        if (input) {
            line.deliverDue();
            engine.inputArrived();
            continue;
        }
        const auto due = engine.wakeDueMs();
        const std::size_t written = line.written.size();
        engine.wake();
        if (engine.wakeDueMs() == due && line.written.size() == written && !engine.jobRunning())
            return false;
    }
    clock.advanceMs(next - clock.monotonicMs());
    return true;
}

}  // namespace kv::test
