#pragma once

#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/TQCCom32.h"
#include "support/EngineProbe.h"
#include "support/FakeClock.h"
#include "support/FakeHttpControl.h"
#include "support/FakeSerialDevice.h"
#include "support/ScriptedPrompts.h"
#include "sync/Engine.h"

namespace kv::test {

// The engine on an in-memory line, a fake HTTP control and a settable clock, with
// its working directory and drive C: in a temporary directory.  tick() runs one tick and moves
// the clock on by 100 ms, as the timer would, waking the engine on the way when it asked to be
// woken and when input arrives.
struct EngineHarness {
    EngineHarness();

    void tick();
    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }
    // Ticks while a run of frames goes to the unit at the line's pace (at most 10,000 ticks).
    void untilRunEnds() {
        for (int i = 0; engine->jobRunning() && i < 10'000; ++i) tick();
    }
    // The unit sends 'Z' and the frame's 16 bytes.
    void unitSends(const CommandFrame& frame, const std::string& before = {});
    // Frames written to the unit so far (each checked for its F0 F0 A5 header).
    std::vector<CommandFrame> sentFrames() const;
    std::vector<int> sentCodes() const;
    // Ticks until the unit is told its tables changed (frame 7), at most limit: how many it
    // took, or none.
    std::optional<int> ticksUntilTablesAnnounced(int limit);
    // Sets up a state that takes long to reach.
    void setIdleTicks(std::uint16_t ticks) { EngineProbe::setIdleTicks(*engine, ticks); }
    TableSignalling& tables() { return EngineProbe::tables(*engine); }
    // An option of terminal.cfg ("1" or "0") as the operator sets it.
    void setOption(Bytes TerminalConfig::*option, bool on) {
        TerminalConfig settings = engine->settings();
        settings.*option = on ? "1" : "0";
        engine->setSettings(settings);
    }

    // The engine's display as the tests read it; setText puts a field as an earlier step would
    // have left it.
    struct ShownFields {
        EngineHarness& h;
        Bytes text(Field field) const { return h.engine->display().text(field); }
        Tone tone(Field field) const { return h.engine->display().tone(field); }
        void setText(Field field, std::string_view cp1250) {
            EngineProbe::show(*h.engine, field, cp1250);
        }
    };

    FakeClock clock;
    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    ScriptedPrompts prompts;
    std::unique_ptr<TQCCom32> com;
    FakeHttpControl http;
    QTemporaryDir dir;
    std::filesystem::path workDir;
    std::filesystem::path driveC;
    std::unique_ptr<Engine> engine;
    ShownFields fields{*this};
};

// Lets the unit send the frame and ticks until the request it calls for is awaited.
void request(EngineHarness& h, const CommandFrame& frame);
// The awaited request completes with the body; one tick processes it, and the table download it
// starts is ticked to its end.  What was written to the unit before is forgotten, so the frames
// sent afterwards are the reply's.
void reply(EngineHarness& h, const std::string& body);

// FrameCode 2: index 258, code 3, type 4, place 5, 7:04:09 on 5.3.2024, name wanted; and the
// request it calls for with the harness's settings.
extern const CommandFrame kEvent;
extern const std::string kBase;  // kvsync.php at the harness's address
extern const std::string kEventUrl;

// Builds a frame from its 16 byte values (missing ones are 0).
CommandFrame frameOf(std::initializer_list<int> bytes);
std::string frameText(const CommandFrame& frame);

}  // namespace kv::test
