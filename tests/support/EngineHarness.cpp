#include "support/EngineHarness.h"

#include <gtest/gtest.h>

#include "support/BridgeTimers.h"

namespace kv::test {

EngineHarness::EngineHarness() {
    line->clock = &clock;
    com = std::make_unique<TQCCom32>(fakeSerialFactory(line));
    com->setBaud(2400);
    workDir = std::filesystem::path(dir.path().toStdString()) / "work";
    driveC = std::filesystem::path(dir.path().toStdString()) / "c";
    std::filesystem::create_directories(workDir);
    std::filesystem::create_directories(driveC);
    engine = std::make_unique<Engine>(*com, http, clock, EnginePaths{workDir, driveC});
    TerminalConfig settings = defaultTerminalConfig();
    settings.httphost = "127.0.0.1";  // a host of its own: the requests name it
    engine->setSettings(settings);
    com->Open();
    EngineProbe::setCommState(*engine, CommState::running);  // as after Start: the port is open
}

void EngineHarness::tick() {
    if (!tickAsTheBridgeDoes(*engine, clock, *line))
        ADD_FAILURE() << "the engine asked to be woken again at once and changed nothing";
}

std::string frameText(const CommandFrame& frame) {
    return std::string(reinterpret_cast<const char*>(frame.bytes.data()), frame.bytes.size());
}

void EngineHarness::unitSends(const CommandFrame& frame, const std::string& before) {
    line->input += before + "Z" + frameText(frame);
}

std::vector<CommandFrame> EngineHarness::sentFrames() const {
    std::vector<CommandFrame> frames;
    const std::string& w = line->written;
    EXPECT_EQ(w.size() % 19, 0u) << "partial frame on the line";
    for (std::size_t at = 0; at + 19 <= w.size(); at += 19) {
        EXPECT_EQ(w.substr(at, 3), "\xF0\xF0\xA5") << "frame header at byte " << at;
        CommandFrame f;
        for (int i = 0; i < 16; ++i) f.bytes[i] = static_cast<std::uint8_t>(w[at + 3 + i]);
        frames.push_back(f);
    }
    return frames;
}

std::vector<int> EngineHarness::sentCodes() const {
    std::vector<int> codes;
    for (const CommandFrame& f : sentFrames()) codes.push_back(f.code());
    return codes;
}

std::optional<int> EngineHarness::ticksUntilTablesAnnounced(int limit) {
    const auto announced = [this] {
        const std::vector<int> codes = sentCodes();
        return std::count(codes.begin(), codes.end(), 7);
    };
    const auto before = announced();
    for (int n = 1; n <= limit; ++n) {
        tick();
        if (announced() > before) return n;
    }
    return std::nullopt;
}

CommandFrame frameOf(std::initializer_list<int> bytes) {
    CommandFrame f;
    int i = 1;
    for (int b : bytes) f[i++] = static_cast<std::uint8_t>(b);
    return f;
}

const CommandFrame kEvent = frameOf({2, 1, 2, 3, 4, 5, 7, 4, 9, 5, 3, 24, 1});
const std::string kBase = "http://localhost/kordavoweb/kvsync.php";
const std::string kEventUrl =
    kBase + "?prikaz=2&indexza=258&kod=3&typpr=4&misto=5&datum=2024-3-5%207:4:9&httphost=127.0.0.1";

void request(EngineHarness& h, const CommandFrame& frame) {
    h.unitSends(frame);
    h.ticks(3);
    if (!h.engine->status().requestUnderWay) ADD_FAILURE() << "the frame's request is not awaited";
}

void reply(EngineHarness& h, const std::string& body) {
    h.line->written.clear();
    h.http.complete(body);
    h.tick();
    h.untilRunEnds();
}

}  // namespace kv::test
