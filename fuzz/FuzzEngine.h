#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/TQCCom32.h"
#include "support/BridgeTimers.h"
#include "support/FakeClock.h"
#include "support/FakeHttpControl.h"
#include "support/FakeSerialDevice.h"
#include "support/ScriptedPrompts.h"
#include "sync/Engine.h"

namespace kv::fuzz {

// Stops the run with the input that broke a property: libFuzzer keeps it as a crash file.
[[noreturn]] void broken(const std::string& what);
inline void require(bool holds, const std::string& what) {
    if (!holds) broken(what);
}

// Quiets the bridge's log (every frame in hex would swamp the run) once per process.
void quietLog();

// A working directory of the process's own, emptied for every input and removed at exit.
const std::filesystem::path& scratchDir();
void emptyScratchDir();

// The engine on the in-memory line, the fake HTTP control of the tests and a settable clock,
// with the port open.  tick() runs one tick as the bridge does and moves the clock on by 100 ms.
struct FuzzEngine {
    FuzzEngine();
    void tick() {
        require(test::tickAsTheBridgeDoes(*engine, clock, *line),
                "the engine asked to be woken again at once and changed nothing");
    }

    test::FakeClock clock;
    std::shared_ptr<test::FakeSerialLine> line = std::make_shared<test::FakeSerialLine>();
    test::ScriptedPrompts prompts;
    std::unique_ptr<TQCCom32> com;
    test::FakeHttpControl http;
    std::unique_ptr<Engine> engine;
};

// The frames on the line to the unit; a property breaks unless every one is exactly
// F0 F0 A5 and 16 bytes.
std::vector<CommandFrame> framesSent(const std::string& written);

}  // namespace kv::fuzz
