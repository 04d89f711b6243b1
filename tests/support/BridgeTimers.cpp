#include "support/BridgeTimers.h"

#include <algorithm>

namespace kv::test {

void tickAsTheBridgeDoes(Engine& engine, FakeClock& clock, FakeSerialLine& line) {
    engine.tick();
    const std::int64_t next = clock.monotonicMs() + 100;
    for (int steps = 0; steps < 100'000; ++steps) {
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
        } else {
            engine.wake();
        }
    }
    clock.advanceMs(next - clock.monotonicMs());
}

}  // namespace kv::test
