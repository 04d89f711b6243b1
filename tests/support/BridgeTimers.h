#pragma once

#include "support/FakeClock.h"
#include "support/FakeSerialDevice.h"
#include "sync/Engine.h"

namespace kv::test {

// One 100 ms tick of the engine over the in-memory line, as the bridge runs it: the tick, then
// until the next one the engine is woken when it asked to be (Engine::wakeDueMs) and told of
// input as it arrives; the clock ends a tick later.  False when a wake changed nothing and
// asked to be woken again at once: a bridge would spin there.  The in-memory line moves its
// bytes at its rate meanwhile, and the engine hears of each take as the bridge would.
[[nodiscard]] bool tickAsTheBridgeDoes(Engine& engine, FakeClock& clock, FakeSerialLine& line);

}  // namespace kv::test
