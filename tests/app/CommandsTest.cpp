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
    for (const auto& row : rows) {
        SCOPED_TRACE(row.button);
        w.form->findChild<QPushButton*>(row.button)->click();
        EXPECT_EQ(unit.readMaster(19), frameWithTime(row.code, w.clock));
        EXPECT_EQ(w.text("statpc"), QString::number(row.code));
    }
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
        for (int n = 1; n <= 3; ++n) {
            const std::string f = unit.readMaster(19);
            ASSERT_EQ(f.size(), 19u);
            EXPECT_EQ(f.substr(3, 6), std::string({10, 0, char(n), char(n), char(n), char(n)}));
            EXPECT_EQ(f.substr(9, 6), std::string({7, 4, 9, 5, 3, 24}));
        }
        EXPECT_EQ(unit.readMaster(19).substr(0, 4), "\xF0\xF0\xA5\x08");
        EXPECT_EQ(count->text(), "0");
    }
    EXPECT_EQ(w.form->engine().state().slowFrameCounter, 0);
}

TEST(Commands, AThousandFictitiousEventsArriveInOrder) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"));
    ASSERT_EQ(unit.readMaster(19).size(), 19u);
    w.form->findChild<QLineEdit*>("fiktud")->setText("1000");
    w.prompts.confirmations = {true};
    w.form->Button4Click();
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

TEST(Commands, The256thFictitiousEventCarriesIntoTheHighByte) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"));
    ASSERT_EQ(unit.readMaster(19).size(), 19u);
    w.form->findChild<QLineEdit*>("fiktud")->setText("256");
    w.prompts.confirmations = {true};
    w.form->Button4Click();
    const std::string all = unit.readMaster(257 * 19);
    ASSERT_EQ(all.size(), 257u * 19);
    EXPECT_EQ(all.substr(255 * 19 + 3, 6), std::string({10, 1, 0, 0, 0, 0}));
    EXPECT_EQ(all.substr(254 * 19 + 3, 6),
              std::string({10, 0, char(255), char(255), char(255), char(255)}));
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
    EXPECT_EQ(w.form->engine().state().requestKind, RequestKind::recalculation);
    // A second click while the first is under way does not replace it.
    w.form->Button3Click();
    EXPECT_EQ(w.http->calls().size(), 1u);
    EXPECT_EQ(w.prompts.shown.size(), 1u);
    EXPECT_TRUE(w.form->bridge().tickTimer().isActive()) << "ticking for the reply";
    w.tick();
    w.http->complete("anything at all");
    w.tick();
    EXPECT_EQ(w.text("statpc"), "99");
    EXPECT_EQ(w.form->engine().state().requestKind, RequestKind::none);
    EXPECT_FALSE(w.form->bridge().tickTimer().isActive());
    EXPECT_FALSE(w.running());
}

TEST(Progress, ALongRunShowsRecordsSentOfTheTotalAndStopEndsItAfterTheFrameOnTheLine) {
    Window w(config("1", "1"), [](Window& w) {
        w.fakeLine = std::make_shared<FakeSerialLine>();
        w.fakeLine->clock = &w.clock;
    });
    ASSERT_TRUE(w.running());
    w.form->fields().setChecked(Check::slowcom, true);  // a second per five frames
    w.form->findChild<QLineEdit*>("fiktud")->setText("20");
    w.prompts.confirmations = {true};
    w.fakeLine->written.clear();
    QString shown;
    // Looks whenever the long run lets the window handle events; Stop once progress shows.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (w.form->progressBar()->isHidden()) return;
        shown = w.form->progressBar()->text();
        watch.stop();
        w.form->findChild<QPushButton*>("stavstop")->click();
    });
    watch.start(0);
    w.form->findChild<QPushButton*>("Button4")->click();
    EXPECT_EQ(shown, QString::fromUtf8("Události: 5 z 20"));
    std::vector<int> codes;
    for (std::size_t at = 3; at < w.fakeLine->written.size(); at += 19)
        codes.push_back(static_cast<unsigned char>(w.fakeLine->written[at]));
    EXPECT_EQ(codes, std::vector<int>(5, 10)) << "no statistics request after a stopped run";
    EXPECT_FALSE(w.running());
    EXPECT_TRUE(w.form->progressBar()->isHidden());
}

}  // namespace
}  // namespace kv::test
