// The bridge on the in-memory line: who opens the port and when, with nobody asked.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <fstream>

#include "link/Cp1250.h"
#include "link/PortErrorText.h"
#include "support/EngineProbe.h"
#include "support/FakeClock.h"
#include "support/FakeHttpControl.h"
#include "support/FakeSerialDevice.h"
#include "support/ScriptedPrompts.h"
#include "sync/Bridge.h"

namespace kv::test {
namespace {

const std::string kStartFrame = "\xF0\xF0\xA5\x0B";

struct BridgeRig {
    // terminal.cfg: the port, the automatic start and the delayed start.
    BridgeRig(const std::string& port, const std::string& slowstart = "0") {
        workDir = std::filesystem::path(dir.path().toStdString());
        std::ofstream(workDir / "terminal.cfg", std::ios::binary)
            << port << "\r\nhttp://127.0.0.1/kw/\r\nlocalhost\r\n1\r\n0\r\n"
            << slowstart << "\r\n0\r\n0\r\n";
        line->clock = &clock;
        BridgeParts parts;
        parts.prompts = &prompts;
        parts.clock = &clock;
        parts.serialFactory = fakeSerialFactory(line);
        parts.httpFactory = [this](QObject*) {
            auto control = std::make_unique<FakeHttpControl>();
            http = control.get();
            return control;
        };
        parts.workDir = workDir;
        parts.driveC = workDir;
        bridge = std::make_unique<Bridge>(std::move(parts));
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) {
            clock.advanceMs(Bridge::kTickMs);
            bridge->tick();
            // What the tick posted (a port found lost) is taken after it, as the loop would.
            QCoreApplication::sendPostedEvents();
        }
    }
    CommState state() const { return bridge->status().state; }

    QTemporaryDir dir;
    std::filesystem::path workDir;
    FakeClock clock;
    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    ScriptedPrompts prompts;
    FakeHttpControl* http = nullptr;
    std::unique_ptr<Bridge> bridge;
};

TEST(BridgeOverFakes, AnAutomaticStartOpensThePortAndSendsTheStartFrame) {
    BridgeRig r("1");
    ASSERT_TRUE(r.bridge->programStart(Bridge::AutoStart::asConfigured));
    EXPECT_EQ(r.line->written.substr(0, 4), kStartFrame);
    EXPECT_EQ(r.state(), CommState::running);
    EXPECT_TRUE(BridgeProbe::ticking(*r.bridge));
    EXPECT_TRUE(r.prompts.shown.empty());
}

// A terminal.cfg with LF line ends is one line, as ever: no port, and the reason given is the
// line ends.
TEST(BridgeOverFakes, ATerminalCfgWithLfLineEndsIsReadAsOneLineAndSaysWhy) {
    BridgeRig r("1");
    std::ofstream(r.workDir / "terminal.cfg", std::ios::binary)
        << "1\nhttp://127.0.0.1/kw/\nlocalhost\n1\n0\n0\n0\n0\n";
    EXPECT_FALSE(r.bridge->programStart(Bridge::AutoStart::always));
    EXPECT_EQ(configuredPort(r.bridge->settings()), 0);
    EXPECT_EQ(r.bridge->settings().adresa, "");
    ASSERT_EQ(r.prompts.shown.size(), 1u);
    EXPECT_TRUE(r.prompts.shown[0].text.contains("ukončené jen LF"))
        << r.prompts.shown[0].text.toStdString();
}

// A converter that comes up after the PC, with tables waiting to go to the unit: nobody is
// asked, nothing is written meanwhile, and the port's appearance resumes communication.
TEST(BridgeOverFakes, AnAutomaticStartWaitsForItsPortWithoutAskingAnybody) {
    BridgeRig r("2");
    std::ofstream(r.workDir / "tables.unfinished") << "";
    r.line->failingNames = {portDeviceName(2)};
    ASSERT_TRUE(r.bridge->programStart(Bridge::AutoStart::asConfigured));
    EXPECT_EQ(r.state(), CommState::portLost);
    // The status says what it waits for; the narrow field has the short words.
    EXPECT_EQ(r.bridge->status().cause,
              "Port COM2 není k dispozici, čekám na něj" +
                  portLabel(2, portDeviceName(2)).toStdString().substr(4));
    EXPECT_EQ(r.bridge->display().text(Field::stavprac), cp1250("Čekám na port COM2"));
    r.ticks(30);
    EXPECT_FALSE(r.bridge->retryPortNow());
    EXPECT_EQ(r.line->opens, 0);
    EXPECT_EQ(r.line->written, "");
    EXPECT_TRUE(r.prompts.shown.empty());

    r.line->failingNames.clear();
    EXPECT_TRUE(r.bridge->retryPortNow());
    EXPECT_EQ(r.line->written.substr(0, 4), kStartFrame);
    EXPECT_EQ(r.state(), CommState::running);
    EXPECT_TRUE(r.prompts.shown.empty());
}

TEST(BridgeOverFakes, ALostPortIsWaitedForAndItsReturnResumes) {
    BridgeRig r("1");
    ASSERT_TRUE(r.bridge->programStart(Bridge::AutoStart::asConfigured));
    r.line->lostCause = "unplugged";
    r.ticks(1);
    EXPECT_EQ(r.state(), CommState::portLost);
    r.line->lostCause.clear();
    r.line->written.clear();
    r.ticks(5);
    EXPECT_EQ(r.line->written, "") << "nothing reopens the port behind the bridge's back";
    ASSERT_TRUE(r.bridge->retryPortNow());
    EXPECT_EQ(r.line->written.substr(0, 4), kStartFrame);
    EXPECT_EQ(r.state(), CommState::running);
    EXPECT_TRUE(r.prompts.shown.empty());
}

TEST(BridgeOverFakes, StopDuringADelayedStartOpensNothing) {
    BridgeRig r("1", "1");
    ASSERT_TRUE(r.bridge->programStart(Bridge::AutoStart::asConfigured));
    EXPECT_EQ(r.state(), CommState::delayedStart);
    r.ticks(100);
    r.bridge->stop();
    EXPECT_EQ(r.state(), CommState::stopped);
    EXPECT_EQ(r.bridge->display().text(Field::stavprac), "Pracovnik") << "the countdown goes";
    EXPECT_FALSE(BridgeProbe::ticking(*r.bridge));
    r.clock.advanceMs(60'000);
    EXPECT_FALSE(r.bridge->retryPortNow());
    EXPECT_EQ(r.line->devicesMade, 0);
}

}  // namespace
}  // namespace kv::test
