// The whole bridge in one process: the window with its timer, the real serial component on a
// pseudo-terminal (the test plays the unit on the master side), the real HTTP control and a web
// application stub on 127.0.0.1: events there and back, a failing server as the tray tells it and
// a slow one.  What each kind of reply makes the bridge do is tested on the engine alone.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTemporaryDir>
#include <fstream>

#include "app/FailureNotices.h"
#include "app/TForm1.h"
#include "app/Tray.h"
#include "app/WindowLook.h"
#include "support/Pty.h"
#include "support/ScriptedPrompts.h"
#include "support/WebStub.h"

namespace kv::test {
namespace {

using namespace std::chrono_literals;

std::string unitFrame(std::initializer_list<int> bytes) {
    std::string f = "Z";
    for (int b : bytes) f += char(b);
    f.resize(17, '\0');
    return f;
}

// The system's clock, whose monotonic time a test can move on: a failure's minute passes at once.
class ShiftedClock : public Clock {
public:
    WallTime now() const override { return m_system.now(); }
    std::int64_t monotonicMs() const override { return m_system.monotonicMs() + shiftMs; }
    std::int64_t shiftMs = 0;

private:
    SystemClock m_system;
};

struct WindowOnPty {
    explicit WindowOnPty(bool desktopTray = false) : com1(1, unit.slaveName()) {
        work = std::filesystem::path(dir.path().toStdString());
        driveC = work / "c";
        std::filesystem::create_directories(driveC);
        qputenv("KVBRIDGE_DRIVE_C", QByteArray::fromStdString(driveC.string()));
        std::ofstream(work / "terminal.cfg", std::ios::binary)
            << "1\r\n"
            << web.baseUrl() << "\r\nlocalhost\r\n1\r\n0\r\n0\r\n0\r\n0\r\n";
        FormServices s;
        s.bridge = BridgeParts::production(prompts, clock, work);
        s.trayAvailable = [desktopTray] { return desktopTray; };
        form = std::make_unique<TForm1>(s);
        form->appstart();
        start = unit.readMaster(19, 10s);  // generous: a loaded machine may be slow to start
    }
    ~WindowOnPty() {
        form.reset();
        qunsetenv("KVBRIDGE_DRIVE_C");
    }

    // Frames the bridge sends the unit, while the event loop (and so the timer) runs.
    std::vector<std::string> framesFromBridge(std::size_t count,
                                              std::chrono::milliseconds within = 5s) {
        std::string got;
        pumpUntil(
            [&] {
                got += unit.drainMaster();
                return got.size() >= count * 19;
            },
            within);
        std::vector<std::string> frames;
        for (std::size_t at = 0; at + 19 <= got.size(); at += 19)
            frames.push_back(got.substr(at, 19));
        return frames;
    }
    std::string text(Field f) { return form->fields().text(f); }

    WebStub web;
    PtyPair unit;
    ComPortMapping com1;
    QTemporaryDir dir;
    std::filesystem::path work, driveC;
    ShiftedClock clock;
    ScriptedPrompts prompts;
    std::unique_ptr<TForm1> form;
    std::string start;
};

TEST(Bridge, EventWithNameIsForwardedAndAnsweredWithTheName) {
    WindowOnPty b;
    b.web.setReply({.body = "---OK---\nJi\xF8\xED Dvo\xF8\xE1k\n# stand-in padding line\n"});
    b.unit.writeMaster(unitFrame({2, 1, 2, 3, 4, 5, 7, 4, 9, 5, 3, 24, 1}));
    const auto frames = b.framesFromBridge(1);
    ASSERT_EQ(b.web.targets().size(), 1u);
    EXPECT_EQ(b.web.targets()[0],
              "/kvsync.php?prikaz=2&indexza=258&kod=3&typpr=4&misto=5&datum=2024-3-5%207:4:9");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0],
              "\xF0\xF0\xA5\x06"
              "Jiri Dvorak    ");
    EXPECT_EQ(b.text(Field::stavprac), "Ji\xF8\xED Dvo\xF8\xE1k");
    EXPECT_EQ(b.text(Field::stavdatum), "5.3.2024 7:4:9");
}

TEST(Bridge, CardEventErrorIsShownAndNothingIsSent) {
    WindowOnPty b;
    b.web.setReply({.body = "---Err--\nNezn\xE1m\xE1 karta 060504030201\n"});
    b.unit.writeMaster(unitFrame({5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 1, 25}));
    ASSERT_TRUE(pumpUntil([&] { return b.text(Field::stavprac).rfind("Nezn", 0) == 0; }, 5s));
    EXPECT_EQ(
        b.web.targets()[0],
        "/kvsync.php?prikaz=6&karta=060504030201&kod=7&typpr=8&misto=9&datum=2025-1-13%2010:11:12");
    EXPECT_TRUE(b.framesFromBridge(1, 500ms).empty());
    // The server's refusal is no worker's name and does not look like one.
    EXPECT_EQ(b.form->findChild<QLineEdit*>("stavprac")->palette().color(QPalette::Text),
              fieldLook(FieldKind::status, true).text);
}

// A connection that failed is asked again before it is told, and a server reached again within
// the minute is not told at all.  A web application that answers every identification with a
// page (a login page, a proxy's) is told once after its minute, without a poll that a page would
// answer, not again within the hour, and its end once when an identification gets a verdict.
TEST(Bridge, AServerFailureThatLastsIsToldOnceInTheTrayAndSoIsItsEnd) {
    WindowOnPty b(true);
    Tray tray(b.form->bridge());
    b.form->connectTray(tray);
    std::vector<Notice> told;
    QObject::connect(&tray, &Tray::noticeShown, [&](const Notice& n) { told.push_back(n); });
    b.web.setReply({.streamedSize = 1000, .cutAfter = 10});
    b.unit.writeMaster(unitFrame({2, 1, 2, 3, 4, 5, 7, 4, 9, 5, 3, 24, 1}));
    ASSERT_TRUE(
        pumpUntil([&] { return b.form->bridge().status().state == CommState::serverFailing; }, 5s));
    auto* notices = b.form->findChild<FailureNotices*>();
    const auto after = [&](std::int64_t ms) {
        b.clock.shiftMs += ms;
        notices->check();
        // A failure of the connection due to be told is checked first, with a poll.
        pumpUntil([&] { return !b.form->bridge().status().requestUnderWay; }, 5s);
        return told.size();
    };
    EXPECT_EQ(after(59'000), 0u);
    // Back within the minute: the poll finds it answering, and nothing is told.
    b.web.setReply({.body = "---OK---\nbeze zmen\n# the stand-in's padding line\n"});
    EXPECT_EQ(after(1'000), 0u);
    EXPECT_EQ(b.web.targets().back(), "/kvsync.php?prikaz=4");
    EXPECT_EQ(b.form->bridge().status().state, CommState::running);
    b.web.setReply({.body = "<!DOCTYPE html>\n<html><head><title>Login</title></head></html>\n",
                    .contentType = "text/html"});
    b.unit.writeMaster(unitFrame({2, 3, 2, 3, 4, 5, 7, 4, 9, 5, 3, 24, 1}));
    ASSERT_TRUE(
        pumpUntil([&] { return b.form->bridge().status().state == CommState::serverFailing; }, 5s));
    const std::size_t requests = b.web.targets().size();
    EXPECT_EQ(after(59'000), 0u);
    EXPECT_EQ(after(1'000), 1u) << "a page is no proof that the server answers";
    EXPECT_EQ(b.web.targets().size(), requests) << "no poll for it";
    EXPECT_EQ(after(30 * 60'000), 1u);
    EXPECT_EQ(b.form->bridge().status().state, CommState::serverFailing);
    b.web.setReply({.body = "---OK---\nJi\xF8\xED Dvo\xF8\xE1k\n# stand-in padding line\n"});
    b.unit.writeMaster(unitFrame({2, 2, 2, 3, 4, 5, 7, 5, 9, 5, 3, 24, 1}));
    ASSERT_TRUE(pumpUntil([&] { return told.size() >= 2; }, 5s));
    EXPECT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].title, "Kordavo – porucha komunikace");
    // The advice is the web application's, not the network's or the address's.
    EXPECT_EQ(told[0].text,
              "Porucha: Server odpověděl bez výsledku – chyba webové aplikace?\n"
              "Zkontrolujte webovou aplikaci docházky a její chybový log.");
    EXPECT_EQ(told[1].title, "Kordavo – server opět odpovídá");
}

TEST(Bridge, SlowServerAnsweringAfterSecondsStillCompletes) {
    WindowOnPty b;
    b.web.setReply({.body = "---OK---\nPomal\xFD Server\n# padding padding\n", .delay = 3s});
    b.unit.writeMaster(unitFrame({2, 0, 1, 1, 1, 1, 7, 4, 9, 5, 3, 24, 0}));
    const auto frames = b.framesFromBridge(1, 10s);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].substr(0, 5), std::string("\xF0\xF0\xA5\x06\x00", 5));
}

}  // namespace
}  // namespace kv::test
