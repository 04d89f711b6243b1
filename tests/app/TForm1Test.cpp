#include <gtest/gtest.h>
#include <termios.h>

#include <QTemporaryDir>
#include <fstream>

#include "app/FirstStart.h"
#include "app/WindowRig.h"
#include "support/EngineHarness.h"

namespace kv::test {
namespace {

// A missing terminal.cfg is written with the defaults; an empty one is left as it is, its
// settings empty.  Either way the bridge stays stopped and tells the operator what it found.
TEST(Appstart, AStartWithoutSettingsStaysStoppedAndTellsWhatItFound) {
    const struct {
        std::optional<std::string> file;
        std::string written, adresa, httphost, idfirmy;
        const char* told;
    } rows[] = {
        {std::nullopt, kDefaults, "http://localhost/kordavoweb/", "localhost", "0",
         "Soubor terminal.cfg nebyl nalezen, byl proto vytvořen s výchozím nastavením.\n\n"},
        {"", "", "", "", "", "Soubor terminal.cfg je prázdný.\n\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.told);
        Window w(row.file);
        QCoreApplication::processEvents();  // the hint comes once the window is up
        EXPECT_EQ(readFile(w.workDir / "terminal.cfg"), row.written);
        WidgetFields& f = w.form->fields();
        EXPECT_EQ(f.checked(Check::cfgport2), row.file == std::nullopt);
        EXPECT_EQ(f.text(Setting::cfgadresa), row.adresa);
        EXPECT_EQ(f.text(Setting::cfghttphost), row.httphost);
        EXPECT_EQ(f.text(Setting::idfirmy), row.idfirmy);
        for (Check c : {Check::cfgport1, Check::cfgport3, Check::cfgport4, Check::cfgstart,
                        Check::slowstart, Check::slowcom, Check::cas5min})
            EXPECT_FALSE(f.checked(c));
        ASSERT_EQ(w.prompts.shown.size(), 1u);
        EXPECT_TRUE(w.prompts.shown[0].text.startsWith(QString::fromUtf8(row.told)) &&
                    w.prompts.shown[0].text.endsWith(QString::fromUtf8("tlačítkem Start.")))
            << w.prompts.shown[0].text.toStdString();
        EXPECT_TRUE(f.checked(Check::stavstoji));
        EXPECT_FALSE(BridgeProbe::ticking(w.form->bridge()));
        EXPECT_EQ(w.devicesMade, 0);
        EXPECT_EQ(w.form->windowTitle(),
                  QString::fromUtf8("Kordavo - řídící jenotka KV-CU5 v.7.24"));
    }
}

// --minimized hides the window only where the tray can bring it back and the set-up is done.
TEST(Appstart, AFirstStartShowsTheWindowEvenWhenAskedToStartHidden) {
    struct Row {
        std::optional<std::string> cfg;
        bool minimized, tray, shows;
    };
    for (const Row& row : {Row{std::nullopt, true, true, true}, Row{"", true, true, true},
                           Row{kDefaults, true, true, false}, Row{kDefaults, true, false, true},
                           Row{kDefaults, false, true, true}}) {
        QTemporaryDir dir;
        const std::filesystem::path work = dir.path().toStdString();
        if (row.cfg) std::ofstream(work / "terminal.cfg", std::ios::binary) << *row.cfg;
        EXPECT_EQ(showsWindowAtStart(row.minimized, row.tray, work), row.shows)
            << row.cfg.has_value() << row.minimized << row.tray;
    }
}

TEST(Appstart, AConfigurationThatIsAFolderIsReportedAsSuch) {
    Window w(std::nullopt,
             [](Window& w) { std::filesystem::create_directory(w.workDir / "terminal.cfg"); });
    ASSERT_EQ(w.prompts.shown.size(), 1u);
    EXPECT_TRUE(w.prompts.shown[0].text.endsWith(
        QString::fromUtf8("terminal.cfg nelze otevřít (je to složka, ne soubor).")))
        << w.prompts.shown[0].text.toStdString();
}

TEST(Appstart, AutomaticStartSendsTheStartFrame) {
    PtyPair unit;
    ComPortMapping com2(2, unit.slaveName());
    Window w(config("2", "1", "12"), [](Window& w) { writeFile(w.workDir / "send.tmp", "x"); });
    EXPECT_EQ(unit.readMaster(19), frameWithTime(11, w.clock));
    EXPECT_TRUE(w.running());
    EXPECT_TRUE(BridgeProbe::ticking(w.form->bridge()));
    termios line{};
    ASSERT_EQ(tcgetattr(unit.masterFd(), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), B2400);
    EXPECT_EQ(w.form->bridge().portInUse().port, 2);
    EXPECT_EQ(w.companyIdAsked(), "12");
    EXPECT_EQ(w.text("statpc"), "11");
    EXPECT_FALSE(std::filesystem::exists(w.workDir / "send.tmp"));
    EXPECT_TRUE(w.prompts.shown.empty());
}

// The delayed start is a state of the bridge: the ticks count it down while the loop turns and
// the port stays closed until its end.
TEST(Appstart, DelayedStartCountsDownFiftySecondsBeforeStarting) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1", "0", "1"));
    QStringList shown{w.text("stavprac")};
    QObject::connect(w.form->findChild<QLineEdit*>("stavprac"), &QLineEdit::textChanged,
                     [&](const QString& text) { shown << text; });
    EXPECT_EQ(w.form->bridge().status().state, CommState::delayedStart);
    const auto tickFor = [&w](int ms) { w.ticks(ms / 100); };
    w.clock.advanceMs(100);  // the timer's first tick comes a tick after the start
    tickFor(49'900);
    EXPECT_FALSE(w.form->bridge().portInUse().open);
    EXPECT_EQ(w.devicesMade, 0);
    tickFor(100);
    QStringList expected;
    for (int s = 50; s >= 1; --s) expected << QString("PRODLEVA %1 VTERIN").arg(s);
    expected << "Pracovnik";
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(unit.readMaster(19), frameWithTime(11, w.clock));
    EXPECT_EQ(w.form->bridge().status().state, CommState::running);
}

TEST(Appstart, CompanyIdThatIsNoNumberIsReportedAfterTheStartFrame) {
    PtyPair unit;
    ComPortMapping com3(3, unit.slaveName());
    Window w(config("3", "1", "abc"));
    EXPECT_EQ(unit.readMaster(19).size(), 19u);
    EXPECT_TRUE(w.running());
    ASSERT_EQ(w.prompts.shown.size(), 1u);
    EXPECT_TRUE(w.prompts.shown[0].text.contains("abc"));
    EXPECT_EQ(w.companyIdAsked(), "");
}

TEST(Appstart, AnAddressTooLongForItsFieldIsRefusedNotCut) {
    Window w("1\r\nhttp://127.0.0.1/" + std::string(40000, 'a') + "/\r\nlocalhost\r\n0\r\n0\r\n");
    EXPECT_EQ(w.form->fields().text(Setting::cfgadresa), "");
    EXPECT_EQ(w.prompts.count(QString::fromUtf8(
                  "Adresa serveru v terminal.cfg je příliš dlouhá, nebyla převzata.")),
              1);
}

TEST(Start, WithoutAPortOpensNothing) {
    Window w(config("5", "0"));
    w.form->terminalstart();
    EXPECT_EQ(w.devicesMade, 0);
    EXPECT_FALSE(w.running());
    EXPECT_EQ(w.prompts.count(QString::fromUtf8("Není vybrán sériový port!")), 1);
}

TEST(Start, PortThatDoesNotOpenLeavesCommunicationStopped) {
    ComPortMapping com4(4, kMissingDevice);
    Window w(config("4", "0"));
    w.prompts.answers = {PromptAnswer::retry, PromptAnswer::abort};
    w.form->terminalstart();
    EXPECT_EQ(w.prompts.shown.size(), 2u);
    EXPECT_EQ(w.prompts.shown.at(0).kind, ScriptedPrompts::Kind::abortRetry);
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(BridgeProbe::ticking(w.form->bridge()));
}

TEST(Save, WhileRunningRestartsAndResendsTheStartFrameAndDeletesLeftovers) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"));
    ASSERT_EQ(unit.readMaster(19).size(), 19u);
    for (const char* name : {"err1.dat", "ERR_old.DAT", "send.tmp"})
        writeFile(w.workDir / name, "x");
    std::filesystem::create_directory(w.workDir / "err2.dat");  // a folder stays
    writeFile(w.workDir / "error.txt", "keep");
    w.form->findChild<QLineEdit*>("idfirmy")->setText("7");
    w.form->findChild<QPushButton*>("cfguloz")->click();
    EXPECT_EQ(unit.readMaster(19), frameWithTime(11, w.clock));
    EXPECT_TRUE(w.running());
    EXPECT_EQ(w.companyIdAsked(), "7");
    EXPECT_EQ(readFile(w.workDir / "terminal.cfg"), config("1", "1", "7"));
    EXPECT_FALSE(std::filesystem::exists(w.workDir / "err1.dat"));
    EXPECT_FALSE(std::filesystem::exists(w.workDir / "ERR_old.DAT"));
    EXPECT_FALSE(std::filesystem::exists(w.workDir / "send.tmp"));
    EXPECT_TRUE(std::filesystem::exists(w.workDir / "error.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(w.workDir / "err2.dat"));
}

TEST(Save, WhileStoppedOpensNothing) {
    Window w(config("1", "0"));
    w.form->cfgulozClick();
    EXPECT_EQ(w.devicesMade, 0);
    EXPECT_FALSE(w.running());
    EXPECT_EQ(readFile(w.workDir / "terminal.cfg"), config("1", "0"));
    // An address without its final "/" would make every request a 404: it is completed.
    w.form->findChild<QLineEdit*>("cfgadresa")->setText("http://127.0.0.1/kw");
    w.form->cfgulozClick();
    EXPECT_EQ(readFile(w.workDir / "terminal.cfg"), config("1", "0"));
}

TEST(Stop, ClosesThePortAndHidingLeavesCommunicationRunning) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"), [](Window& w) { w.desktopTray = true; });
    w.form->show();
    w.form->findChild<QPushButton*>("skryt")->click();
    EXPECT_FALSE(w.form->isVisible());
    EXPECT_TRUE(w.running());
    EXPECT_TRUE(BridgeProbe::ticking(w.form->bridge()));
    w.form->findChild<QPushButton*>("stavstop")->click();
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(w.form->bridge().portInUse().open);
    EXPECT_FALSE(BridgeProbe::ticking(w.form->bridge()));
}

// Whether the program was asked to end while this lives.
struct QuitWatch : QObject {
    QuitWatch() { qApp->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        asked = asked || event->type() == QEvent::Quit;
        return false;
    }
    bool asked = false;
};

// The close button hides a running bridge to the tray, or asks where there is none; the tray's
// "Ukončit" asks while communication runs; a termination signal never asks; stopped, every
// close ends the program.
TEST(Close, ARunningBridgeEndsOnlyWhenTheOperatorMeansIt) {
    enum class By { closeButton, trayMenu, signal, closeButtonThenSignal };
    const struct {
        const char* name;
        By by;
        bool running, tray, answer;
        bool asked, ends, visible;
    } rows[] = {
        {"stopped: close button", By::closeButton, false, true, false, false, true, false},
        {"stopped: tray menu", By::trayMenu, false, true, false, false, true, false},
        {"running, tray: close button hides", By::closeButton, true, true, false, false, false,
         false},
        {"running, no tray: Ne", By::closeButton, true, false, false, true, false, true},
        {"running, no tray: Ano", By::closeButton, true, false, true, true, true, false},
        {"running: tray menu, Ne", By::trayMenu, true, true, false, true, false, true},
        {"running: tray menu, Ano", By::trayMenu, true, true, true, true, true, false},
        {"running: signal", By::signal, true, false, false, false, true, false},
        {"running: signal while asked", By::closeButtonThenSignal, true, false, false, true, true,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PtyPair unit;
        ComPortMapping com1(1, unit.slaveName());
        std::unique_ptr<Tray> tray;  // outlives the window, as in the program
        Window w(config("1", row.running ? "1" : "0"),
                 [&](Window& w) { w.desktopTray = row.tray; });
        tray = std::make_unique<Tray>(w.form->bridge());
        w.form->connectTray(*tray);
        w.form->show();
        EXPECT_EQ(w.form->findChild<QPushButton*>("skryt")->isEnabled(), row.tray);
        EXPECT_EQ(w.form->findChild<QPushButton*>("skryt")->toolTip().isEmpty(), row.tray);
        w.prompts.confirmations = {row.answer};
        if (row.by == By::closeButtonThenSignal)
            w.prompts.whileShown = [&](const ScriptedPrompts::Shown&) {
                w.form->closeWithoutAsking();
            };
        int hidden = 0;
        QObject::connect(w.form.get(), &TForm1::hiddenToTray, [&] { ++hidden; });
        // The program ends when the close quits the event loop it runs in.
        QuitWatch quit;
        QTimer::singleShot(0, [&] {
            if (row.by == By::trayMenu)
                tray->menu().actions().last()->trigger();
            else if (row.by == By::signal)
                w.form->closeWithoutAsking();
            else
                w.form->close();
            QCoreApplication::exit();
        });
        QCoreApplication::exec();
        EXPECT_EQ(quit.asked, row.ends);
        EXPECT_EQ(w.prompts.count(QString::fromUtf8("Komunikace s RJ běží. Opravdu ukončit?")),
                  row.asked ? 1 : 0);
        EXPECT_EQ(w.form->isVisible(), row.visible);
        EXPECT_EQ(hidden, !row.ends && !row.visible ? 1 : 0);
        EXPECT_EQ(w.running(), row.running);  // closing leaves stopping to the end
    }
}

// The window never gets so small that Start and Stop go; the history, out of view at the normal
// size, grows with a larger window whatever the scale: at twice the scale a maximised window on
// a 1920 x 1200 screen is 960 x 575 logical pixels, too low for its place below the help.
TEST(Layout, TheHistoryTakesTheRoomTheWindowHasWithoutCoveringAnything) {
    Window w(config("2", "0"));
    w.form->show();
    EXPECT_EQ(w.form->minimumSize(), QSize(511, 137));
    const QSize sizes[] = {{511, 137}, {960, 575}, {1200, 700}, {1280, 1000}, {1920, 1050}};
    int lastArea = 0;
    for (const QSize size : sizes) {
        SCOPED_TRACE(size.width());
        w.form->resize(size);
        const QRect history = w.form->findChild<QWidget*>("historie")->geometry();
        const QRect label = w.form->findChild<QWidget*>("Label50")->geometry();
        if (size == QSize(511, 137)) {
            EXPECT_FALSE(w.form->rect().intersects(history));
            continue;
        }
        EXPECT_TRUE(w.form->rect().contains(history));
        EXPECT_GE(history.height(), 160);  // about eight rows
        // It reaches the edge the window grows at, and grows with it.
        EXPECT_TRUE(history.bottom() == size.height() - 1 || history.right() == size.width() - 1);
        EXPECT_GT(history.width() * history.height(), lastArea);
        lastArea = history.width() * history.height();
        EXPECT_EQ(label.bottomLeft(), history.topLeft() - QPoint(0, 2));
        for (const char* other : {"GroupBox1", "GroupBox2", "GroupBox3", "GroupBox4", "GroupBox5",
                                  "GroupBox6", "GroupBox7", "statbut", "urls"}) {
            const QRect taken = w.form->findChild<QWidget*>(other)->geometry();
            EXPECT_FALSE(taken.intersects(history)) << other;
            EXPECT_FALSE(taken.intersects(label)) << other;
        }
    }
}

// A port chosen with OK while communication runs is checked and the communication moves to it
// at once; Zrušit changes nothing.
TEST(PortPicker, OkWhileRunningMovesTheCommunicationToTheChosenPort) {
    PtyPair com1Unit, com3Unit;
    ComPortMapping com1(1, com1Unit.slaveName());
    ComPortMapping com2(2, kMissingDevice);
    ComPortMapping com3(3, com3Unit.slaveName());
    ComPortMapping com4(4, kMissingDevice);
    Window w(config("3", "1"));
    ASSERT_EQ(com3Unit.readMaster(19).size(), 19u);
    QStringList listed;
    int preselected = -2;
    w.form->portPicker().runPickDialog = [&](TformPickPort& dialog) {
        listed = dialog.items();
        preselected = dialog.itemIndex();
        dialog.setItemIndex(0);
        return int(QDialog::Accepted);
    };
    w.form->Button5Click();
    EXPECT_EQ(listed, (QStringList{"COM1", "COM3"}));
    EXPECT_EQ(preselected, 1);
    EXPECT_TRUE(w.form->fields().checked(Check::cfgport1));
    EXPECT_EQ(com1Unit.readMaster(19).substr(0, 4), "\xF0\xF0\xA5\x0B");
    EXPECT_TRUE(w.running());
    EXPECT_EQ(w.form->bridge().portInUse().port, 1);
    EXPECT_EQ(w.form->bridge().status().port, "COM1 (" + com1Unit.slaveName() + ")");
    EXPECT_EQ(readFile(w.workDir / "terminal.cfg"), config("3", "1"));  // not saved
    // Zrušit changes nothing: the port clicked by hand stays, communication goes on unrestarted.
    w.form->fields().setChecked(Check::cfgport3, true);
    w.form->portPicker().runPickDialog = [](TformPickPort&) { return int(QDialog::Rejected); };
    w.form->Button5Click();
    EXPECT_TRUE(w.form->fields().checked(Check::cfgport3));
    EXPECT_TRUE(w.running());
    EXPECT_EQ(com1Unit.drainMaster(), "");
}

TEST(PortPicker, WhileStoppedNothingStarts) {
    PtyPair com2Unit;
    for (int n : {1, 3, 4}) setenv(("KVBRIDGE_COM" + std::to_string(n)).c_str(), kMissingDevice, 1);
    ComPortMapping com2(2, com2Unit.slaveName());
    Window w(config("1", "0"));
    w.form->portPicker().runPickDialog = [](TformPickPort& dialog) {
        dialog.setItemIndex(0);
        return int(QDialog::Accepted);
    };
    w.form->Button5Click();
    EXPECT_TRUE(w.form->fields().checked(Check::cfgport2));
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(w.form->bridge().portInUse().open);
    for (int n : {1, 3, 4}) unsetenv(("KVBRIDGE_COM" + std::to_string(n)).c_str());
}

// terminal.cfg there but not readable (here a directory of that name): said, and the window keeps
// its initial texts, which are the settings used and what Uložit would write.
TEST(TForm1, AnUnreadableConfigKeepsTheInitialTexts) {
    Window w(std::nullopt,
             [](Window& w) { std::filesystem::create_directory(w.workDir / "terminal.cfg"); });
    EXPECT_FALSE(w.prompts.shown.empty());
    const TerminalConfig shown = w.form->fields().settings();
    EXPECT_EQ(shown, initialWindowSettings());
    EXPECT_EQ(shown.port, "");
    EXPECT_EQ(shown.adresa, "http://localhost/kordavoweb/");
    EXPECT_EQ(shown.httphost, "127.0.0.1");
    EXPECT_EQ(shown.idfirmy, "0");
    EXPECT_EQ(w.form->bridge().settings(), shown);
}

// The engine's short failure words fit the narrow stavprac at scale 1; the tooltip has them whole.
TEST(TForm1, ShortFailureWordsFitTheirFieldAndTheTooltipHasThemWhole) {
    Window w(config("1", "0"));
    auto* field = w.form->findChild<QLineEdit*>("stavprac");
    const auto check = [&](EngineHarness& h, const char* whole) {
        const ShownText shown = h.engine->display()[Field::stavprac];
        w.form->fields().show(Field::stavprac, shown);
        EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()),
                  field->contentsRect().width() - 4)
            << field->text().toStdString();
        EXPECT_EQ(field->toolTip().toStdString(), whole);
    };
    EngineHarness noVerdict;
    request(noVerdict, kEvent);
    reply(noVerdict, "<!DOCTYPE html>\n<html><body>Login</body></html>\n");
    check(noVerdict, "Doch.server: bez výsledku");
    EngineHarness silent;
    silent.engine->command(ToUnit::statisticsRequest);
    silent.ticks(51);
    check(silent, kUnitNotAnsweringText);
}

}  // namespace
}  // namespace kv::test
