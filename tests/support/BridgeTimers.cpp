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
        const auto moves = line.nextMoveMs();
        const bool output = !input && moves && *moves < at;
        if (output) at = std::max(*moves, now);
        if (at >= next) break;
        clock.advanceMs(at - now);
        if (input) {
            line.deliverDue();
            engine.inputArrived();
            continue;
        }
        if (output) {
            // The device tells the bridge it took bytes; the bridge takes the notice queued.
            const std::size_t held = line.held.size();
            line.advance();
            if (line.held.size() < held) engine.outputTaken();
            continue;
        }
        const auto due = engine.wakeDueMs();
        const std::size_t handed = line.written.size() + line.onTheWay.size() + line.held.size();
        engine.wake();
        const std::size_t handedNow = line.written.size() + line.onTheWay.size() + line.held.size();
        if (engine.wakeDueMs() == due && handedNow == handed) return false;
    }
    clock.advanceMs(next - clock.monotonicMs());
    return true;
}

}  // namespace kv::test
