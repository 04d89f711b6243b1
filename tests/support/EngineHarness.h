#pragma once

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "link/TQCCom32.h"
#include "support/FakeClock.h"
#include "support/FakeHttpControl.h"
#include "support/FakeSerialDevice.h"
#include "support/MapFields.h"
#include "support/ScriptedPrompts.h"
#include "sync/Engine.h"

namespace kv::test {

// The engine on an in-memory line, a fake HTTP control, a settable clock and plain fields, with
// its working directory and drive C: in a temporary directory.  tick() runs one tick and moves
// the clock on by 100 ms, as the timer would.
struct EngineHarness {
    EngineHarness();

    void tick();
    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }
    // The unit sends 'Z' and the frame's 16 bytes.
    void unitSends(const CommandFrame& frame, const std::string& before = {});
    // Frames written to the unit so far (each checked for its F0 F0 A5 header).
    std::vector<CommandFrame> sentFrames() const;
    std::vector<int> sentCodes() const;

    FakeClock clock;
    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    ScriptedPrompts prompts;
    std::unique_ptr<TQCCom32> com;
    MapFields fields;
    FakeHttpControl http;
    QTemporaryDir dir;
    std::filesystem::path workDir;
    std::filesystem::path driveC;
    std::unique_ptr<Engine> engine;
};

// Builds a frame from its 16 byte values (missing ones are 0).
CommandFrame frameOf(std::initializer_list<int> bytes);
std::string frameText(const CommandFrame& frame);

}  // namespace kv::test
