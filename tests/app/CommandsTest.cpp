#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>

#include "app/MessageBoxPrompts.h"
#include "app/WindowRig.h"

namespace kv::test {
namespace {

TEST(Commands, EachButtonSendsItsFrameWithTheTime) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"));
    ASSERT_EQ(unit.readMaster(19).size(), 19u);
    const struct {
        const char* button;
        int code;
    } rows[] = {{"sendtime", 1}, {"Button2", 9}, {"Button1", 7}, {"statbut", 8}};
    // After a Stop they still go to the unit, on the port of the last Start; only before the
    // first Start are they refused.
    for (const bool afterStop : {false, true}) {
        if (afterStop) w.form->findChild<QPushButton*>("stavstop")->click();
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.button) + (afterStop ? " after Stop" : ""));
            w.form->findChild<QPushButton*>(row.button)->click();
            EXPECT_EQ(unit.readMaster(19), frameWithTime(row.code, w.clock));
            EXPECT_EQ(w.text("statpc"), QString::number(row.code));
        }
    }
    EXPECT_TRUE(w.prompts.shown.empty());
    EXPECT_FALSE(w.running());
}

TEST(Commands, BeforeStartTheyOpenNoPortAndSayToPressStart) {
    Window w(config("2", "0"));
    w.form->findChild<QLineEdit*>("fiktud")->setText("3");
    for (const char* button : {"sendtime", "Button2", "Button1", "statbut", "Button4"})
        w.form->findChild<QPushButton*>(button)->click();
    EXPECT_EQ(w.devicesMade, 0);
    EXPECT_EQ(w.prompts.count(
                  QString::fromUtf8("Komunikace s RJ je zastavena. Nejprve stiskněte Start.")),
              5);
    EXPECT_TRUE(w.http->calls().empty());
    EXPECT_FALSE(w.running());
}

// The operator's message boxes hold nothing up: the call returns with the box standing, so the
// ticks go on under it (a box left open must not turn a reply into a time-out).
TEST(Commands, AMessageBoxWaitsForNobody) {
    MessageBoxPrompts boxes;
    bool closedByTimer = false;
    QTimer::singleShot(3000, [&] {
        closedByTimer = true;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(top)) top->close();
    });
    boxes.message("Kordavo", QString::fromUtf8("Není vybrán sériový port!"));
    EXPECT_FALSE(closedByTimer);
    bool shown = false;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(top))
            shown = box->isVisible() && !box->isModal();
    EXPECT_TRUE(shown);
}

TEST(Commands, FictitiousEventsAreNumberedFromOneAtEveryClick) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"));
    ASSERT_EQ(unit.readMaster(19).size(), 19u);
    auto* count = w.form->findChild<QLineEdit*>("fiktud");
    // Asked first, since the server records them as attendance: Ne sends nothing.
    w.prompts.confirmations = {false, true, true};
    count->setText("3");
    w.form->findChild<QPushButton*>("Button4")->click();
    EXPECT_EQ(w.prompts.count(QString::fromUtf8(
                  "Poslat do RJ 3 fiktivních událostí? Server je zaznamená jako docházku.")),
              1);
    EXPECT_EQ(unit.readMaster(1, std::chrono::milliseconds(200)), "");
    for (int click = 0; click < 2; ++click) {
        count->setText("3");
        w.form->findChild<QPushButton*>("Button4")->click();
        w.finishRun();  // at the line's pace
        for (int n = 1; n <= 3; ++n) {
            const std::string f = unit.readMaster(19);
            ASSERT_EQ(f.size(), 19u);
            EXPECT_EQ(f.substr(3, 6), std::string({10, 0, char(n), char(n), char(n), char(n)}));
            EXPECT_EQ(f.substr(9, 6), std::string({7, 4, 9, 5, 3, 24}));
        }
        EXPECT_EQ(unit.readMaster(19).substr(0, 4), "\xF0\xF0\xA5\x08");
        EXPECT_EQ(count->text(), "0");
    }
}

// Over a real line, in slices: numbered in order, 256 carrying into the high byte.
TEST(Commands, AThousandFictitiousEventsArriveInOrder) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"));
    ASSERT_EQ(unit.readMaster(19).size(), 19u);
    w.form->findChild<QLineEdit*>("fiktud")->setText("1000");
    w.prompts.confirmations = {true};
    w.form->Button4Click();
    w.finishRun();
    const std::string all = unit.readMaster(1001 * 19);
    ASSERT_EQ(all.size(), 1001u * 19);
    for (int n = 1; n <= 1000; ++n) {
        const std::string f = all.substr((n - 1) * 19, 19);
        ASSERT_EQ(f.substr(0, 9),
                  std::string({char(0xF0), char(0xF0), char(0xA5), 10, char(n >> 8), char(n & 0xFF),
                               char(n & 0xFF), char(n & 0xFF), char(n & 0xFF)}))
            << "event " << n;
    }
    EXPECT_EQ(all.substr(1000 * 19, 4), "\xF0\xF0\xA5\x08");
}

TEST(Commands, FictitiousEventCountOutsideRangeSendsNothing) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"));
    ASSERT_EQ(unit.readMaster(19).size(), 19u);
    for (const char* text : {"-1", "65536", "", "abc", "1.5"}) {
        SCOPED_TRACE(text);
        w.form->findChild<QLineEdit*>("fiktud")->setText(text);
        w.form->Button4Click();
        EXPECT_EQ(w.text("fiktud"), text);
    }
    EXPECT_EQ(w.prompts.shown.size(), 5u);
    EXPECT_EQ(unit.readMaster(1, std::chrono::milliseconds(200)), "");
    // A count of 0 sends only the statistics request.
    w.form->findChild<QLineEdit*>("fiktud")->setText("0");
    w.form->Button4Click();
    EXPECT_EQ(unit.readMaster(19), frameWithTime(8, w.clock, std::string(7, '\0')));
}

// The recalculation is the server's: it needs no unit, and goes out while stopped too.
TEST(Commands, RecalculationIsIssuedOnceAndAnsweredWith99) {
    Window w(config("1", "0", "12"));
    ASSERT_FALSE(w.running());
    w.form->findChild<QLineEdit*>("cfghttphost")->setText("server");
    w.form->Button3Click();
    ASSERT_EQ(w.http->calls().size(), 1u);
    EXPECT_EQ(w.http->calls()[0].url, "http://127.0.0.1/kw/gcalc.php?firma=12&httphost=server");
    EXPECT_TRUE(w.form->bridge().status().requestUnderWay);
    // A second click while the first is under way does not replace it.
    w.form->Button3Click();
    EXPECT_EQ(w.http->calls().size(), 1u);
    EXPECT_EQ(w.prompts.shown.size(), 1u);
    EXPECT_TRUE(BridgeProbe::ticking(w.form->bridge())) << "ticking for the reply";
    w.tick();
    w.http->complete("anything at all");
    w.tick();
    EXPECT_EQ(w.text("statpc"), "99");
    EXPECT_FALSE(w.form->bridge().status().requestUnderWay);
    EXPECT_FALSE(BridgeProbe::ticking(w.form->bridge()));
    EXPECT_FALSE(w.running());
}

// A run paced five frames to a second shows its progress after a second; Stop ends it before its
// next frame (a table download without its closing frame, fictitious events without the
// statistics request), and the window starts again at once.
TEST(Progress, ALongRunShowsHowFarItIsAndStopEndsItBeforeItsNextFrame) {
    std::string table;
    for (int i = 1; i <= 60; ++i) table += std::to_string(i) + "|000000000001|0800|1|0\n";
    for (const bool tables : {false, true}) {
        SCOPED_TRACE(tables);
        Window w(config("1", "1"), [](Window& w) {
            w.fakeLine = std::make_shared<FakeSerialLine>();
            w.fakeLine->clock = &w.clock;
        });
        ASSERT_TRUE(w.running());
        w.form->fields().setChecked(Check::slowcom, true);  // a second per five frames
        if (tables) {
            w.fakeLine->input = "Z" + std::string(1, '\x01') + std::string(15, '\0');
            for (int i = 0; i < 10 && !w.http->running(); ++i) w.tick();
            ASSERT_TRUE(w.http->running());
            w.tick();
            w.fakeLine->written.clear();
            w.http->complete(table);
        } else {
            w.form->findChild<QLineEdit*>("fiktud")->setText("60");
            w.prompts.confirmations = {true};
            w.fakeLine->written.clear();
            w.form->findChild<QPushButton*>("Button4")->click();
        }
        for (int i = 0; i < 50 && w.form->progressBar()->isHidden(); ++i) w.tick();
        const QString shown = w.form->progressBar()->text();
        w.form->findChild<QPushButton*>("stavstop")->click();
        w.ticks(30);
        std::vector<int> codes;
        for (std::size_t at = 3; at < w.fakeLine->written.size(); at += 19)
            codes.push_back(static_cast<unsigned char>(w.fakeLine->written[at]));
        const int records = tables ? int(codes.size()) - 1 : int(codes.size());
        // The bar counts what has left the line; Stop hands over nothing more, so beyond it
        // only the frame on the line and the next went out.
        const int left = shown.section(' ', 1, 1).toInt();
        EXPECT_EQ(shown,
                  QString::fromUtf8(tables ? "Tabulky: %1 z 60" : "Události: %1 z 60").arg(left));
        EXPECT_GE(records, left);
        EXPECT_LE(records, left + 2);
        ASSERT_GE(records, 5);
        EXPECT_LT(records, 60);
        std::vector<int> expected(std::size_t(records), tables ? 3 : 10);
        if (tables) expected.insert(expected.begin(), 2);
        EXPECT_EQ(codes, expected) << "nothing after Stop";
        EXPECT_FALSE(w.running());
        EXPECT_TRUE(w.form->progressBar()->isHidden());
        w.form->findChild<QPushButton*>("stavstart")->click();
        EXPECT_TRUE(w.running());
    }
}

}  // namespace
}  // namespace kv::test
