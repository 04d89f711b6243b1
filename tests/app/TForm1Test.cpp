// The main window with its real serial component on a pseudo-terminal (the unit's side is the
// master), a settable clock, scripted message boxes and a fake HTTP control.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>

#include "app/TForm1.h"
#include "app/Tray.h"
#include "app/WindowLook.h"
#include "link/Cp1250.h"
#include "link/TformPickPort.h"
#include "support/FakeClock.h"
#include "support/FakeHttpControl.h"
#include "support/FakeSerialDevice.h"
#include "support/Pty.h"
#include "support/ScriptedPrompts.h"
#include "support/SmallFilesystem.h"

namespace kv::test {
namespace {

const std::string kDefaults =
    "2\r\nhttp://localhost/kordavoweb/\r\nlocalhost\r\n0\r\n0\r\n0\r\n0\r\n0\r\n";

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// The start frame the unit must see for the fake clock's moment (Tuesday 5.3.2024 7:04:09).
std::string frameWithTime(int code, const FakeClock& clock,
                          const std::string& rest = std::string(7, '\0')) {
    const WallTime t = clock.now();
    std::string f = "\xF0\xF0\xA5";
    for (int b : {code, t.hour, t.minute, t.second, t.day, t.month, t.year - 2000, t.dayOfWeek, 0})
        f += char(b);
    return f + rest;
}

struct Window {
    explicit Window(const std::optional<std::string>& config,
                    std::function<void(Window&)> beforeCreate = {}) {
        workDir = std::filesystem::path(dir.path().toStdString());
        if (config) writeFile(workDir / "terminal.cfg", *config);
        if (beforeCreate) beforeCreate(*this);
        FormServices s;
        s.prompts = &prompts;
        s.clock = &clock;
        s.serialFactory = [this] {
            ++devicesMade;
            return fakeLine ? fakeSerialFactory(fakeLine)() : makeQtSerialDevice();
        };
        s.httpFactory = [this](QObject*) {
            auto http = std::make_unique<FakeHttpControl>();
            this->http = http.get();
            return std::unique_ptr<HttpControl>(std::move(http));
        };
        s.workDir = workDir;
        form = std::make_unique<TForm1>(s);
    }

    QString text(const char* name) { return form->findChild<QLineEdit*>(name)->text(); }
    bool running() { return form->fields().checked(Check::stavjede); }

    QTemporaryDir dir;
    std::unique_ptr<SmallFilesystem> fs;  // mounted inside dir, so it goes first
    std::filesystem::path workDir;
    FakeClock clock;
    ScriptedPrompts prompts;
    FakeHttpControl* http = nullptr;
    int devicesMade = 0;
    std::shared_ptr<FakeSerialLine> fakeLine;  // set before the form: the in-memory line
    std::unique_ptr<TForm1> form;
};

std::string config(const std::string& port, const std::string& start, const std::string& id = "0",
                   const std::string& slowstart = "0") {
    return port + "\r\nhttp://127.0.0.1/kw/\r\nlocalhost\r\n" + start + "\r\n" + id + "\r\n" +
           slowstart + "\r\n0\r\n0\r\n";
}

TEST(Appstart, FirstStartCreatesTheDefaultFileAndStaysStopped) {
    Window w(std::nullopt);
    EXPECT_EQ(readFile(w.workDir / "terminal.cfg"), kDefaults);
    Fields& f = w.form->fields();
    EXPECT_TRUE(f.checked(Check::cfgport2));
    EXPECT_EQ(f.text(Field::cfgadresa), "http://localhost/kordavoweb/");
    EXPECT_EQ(f.text(Field::cfghttphost), "localhost");
    EXPECT_EQ(f.text(Field::idfirmy), "0");
    for (Check c : {Check::cfgstart, Check::slowstart, Check::slowcom, Check::cas5min})
        EXPECT_FALSE(f.checked(c));
    EXPECT_TRUE(f.checked(Check::stavstoji));
    EXPECT_FALSE(w.form->Timer1().isActive());
    EXPECT_EQ(w.devicesMade, 0);
    EXPECT_EQ(w.form->windowTitle(), QString::fromUtf8("Kordavo - řídící jenotka KV-CU5 v.7.24"));
}

TEST(Appstart, EmptyFileLeavesEverythingEmptyAndIsNotRewritten) {
    Window w(std::string{});
    Fields& f = w.form->fields();
    for (Check c : {Check::cfgport1, Check::cfgport2, Check::cfgport3, Check::cfgport4,
                    Check::cfgstart, Check::slowstart, Check::slowcom, Check::cas5min})
        EXPECT_FALSE(f.checked(c));
    EXPECT_EQ(f.text(Field::cfgadresa), "");
    EXPECT_EQ(f.text(Field::cfghttphost), "");
    EXPECT_EQ(f.text(Field::idfirmy), "");
    EXPECT_EQ(readFile(w.workDir / "terminal.cfg"), "");
    // Saving then writes an empty first line.
    w.form->cfgulozClick();
    EXPECT_EQ(readFile(w.workDir / "terminal.cfg"), "\r\n\r\n\r\n0\r\n\r\n0\r\n0\r\n0\r\n");
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
    EXPECT_TRUE(w.form->Timer1().isActive());
    EXPECT_EQ(w.form->QCCom321().Baud(), 2400);
    EXPECT_EQ(w.form->QCCom321().Port(), 2);
    EXPECT_EQ(w.form->engine().state().companyId, 12);
    EXPECT_EQ(w.text("statpc"), "11");
    EXPECT_FALSE(std::filesystem::exists(w.workDir / "send.tmp"));
    EXPECT_TRUE(w.prompts.shown.empty());
}

TEST(Appstart, DelayedStartCountsDownFiftySecondsBeforeStarting) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1", "0", "1"),
             [](Window& w) { w.clock.setWall(2024, 3, 5, 7, 4, 30, 250); });
    // Begun at second 30, it ends when the clock reaches second 20 of the next minute.
    WallTime t = w.clock.now();
    EXPECT_EQ(t.minute, 5);
    EXPECT_EQ(t.second, 20);
    EXPECT_EQ(t.millisecond, 0);
    EXPECT_EQ(w.text("stavprac"), "Pracovnik");
    EXPECT_EQ(unit.readMaster(19), frameWithTime(11, w.clock));

    // Once more, watching the countdown (the first ran before anybody could look).
    QStringList shown;
    QObject::connect(w.form->findChild<QLineEdit*>("stavprac"), &QLineEdit::textChanged,
                     [&](const QString& text) { shown << text; });
    w.form->appstart();
    QStringList expected;
    for (int s = 50; s >= 1; --s) expected << QString("PRODLEVA %1 VTERIN").arg(s);
    expected << "Pracovnik";
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(w.clock.sleptMs(), 2 * 50'000 - 250);
}

TEST(Appstart, CompanyIdThatIsNoNumberIsReportedAfterTheStartFrame) {
    PtyPair unit;
    ComPortMapping com3(3, unit.slaveName());
    Window w(config("3", "1", "abc"));
    EXPECT_EQ(unit.readMaster(19).size(), 19u);
    EXPECT_TRUE(w.running());
    ASSERT_EQ(w.prompts.shown.size(), 1u);
    EXPECT_TRUE(w.prompts.shown[0].text.contains("abc"));
    EXPECT_EQ(w.form->engine().state().companyId, 0);
}

TEST(Appstart, AnAddressTooLongForItsFieldIsRefusedNotCut) {
    Window w("1\r\nhttp://127.0.0.1/" + std::string(40000, 'a') + "/\r\nlocalhost\r\n0\r\n0\r\n");
    EXPECT_EQ(w.form->fields().text(Field::cfgadresa), "");
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
    w.prompts.answers = {PromptAnswer::Retry, PromptAnswer::Abort};
    w.form->terminalstart();
    EXPECT_EQ(w.prompts.shown.size(), 2u);
    EXPECT_EQ(w.prompts.shown.at(0).kind, ScriptedPrompts::Kind::AbortRetry);
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(w.form->Timer1().isActive());
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
    EXPECT_EQ(w.form->engine().state().companyId, 7);
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
}

TEST(Stop, ClosesThePortAndHidingLeavesCommunicationRunning) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"));
    w.form->show();
    w.form->findChild<QPushButton*>("skryt")->click();
    EXPECT_FALSE(w.form->isVisible());
    EXPECT_TRUE(w.running());
    EXPECT_TRUE(w.form->Timer1().isActive());
    w.form->findChild<QPushButton*>("stavstop")->click();
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(w.form->QCCom321().Opened());
    EXPECT_FALSE(w.form->Timer1().isActive());
}

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
    for (const char* button : {"sendtime", "Button2", "Button1", "statbut", "Button3", "Button4"})
        w.form->findChild<QPushButton*>(button)->click();
    EXPECT_EQ(w.devicesMade, 0);
    EXPECT_EQ(w.prompts.count(
                  QString::fromUtf8("Komunikace s RJ je zastavena. Nejprve stiskněte Start.")),
              6);
    EXPECT_TRUE(w.http->calls().empty());
    EXPECT_FALSE(w.running());
}

TEST(Commands, FictitiousEventsAreNumberedFromOneAtEveryClick) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"));
    ASSERT_EQ(unit.readMaster(19).size(), 19u);
    auto* count = w.form->findChild<QLineEdit*>("fiktud");
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

TEST(Commands, RecalculationIsIssuedOnceAndAnsweredWith99) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1", "12"));
    w.form->findChild<QLineEdit*>("cfghttphost")->setText("server");
    w.form->Button3Click();
    ASSERT_EQ(w.http->calls().size(), 1u);
    EXPECT_EQ(w.http->calls()[0].url, "http://127.0.0.1/kw/gcalc.php?firma=12&httphost=server");
    EXPECT_EQ(w.form->engine().state().requestKind, RequestKind::Recalculation);
    // A second click while the first is under way does not replace it.
    w.form->Button3Click();
    EXPECT_EQ(w.http->calls().size(), 1u);
    EXPECT_EQ(w.prompts.shown.size(), 1u);
    w.form->Timer1Timer();
    w.http->complete("anything at all");
    w.form->Timer1Timer();
    EXPECT_EQ(w.text("statpc"), "99");
    EXPECT_EQ(w.form->engine().state().requestKind, RequestKind::None);
}

TEST(PortPicker, ChosenPortIsCheckedAndCommunicationRestartsOnIt) {
    PtyPair com1Unit, com3Unit;
    ComPortMapping com1(1, com1Unit.slaveName());
    ComPortMapping com2(2, kMissingDevice);
    ComPortMapping com3(3, com3Unit.slaveName());
    ComPortMapping com4(4, kMissingDevice);
    Window w(config("3", "1"));
    ASSERT_EQ(com3Unit.readMaster(19).size(), 19u);
    QStringList listed;
    int preselected = -2;
    w.form->QCCom321().runPickDialog = [&](TformPickPort& dialog) {
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
    EXPECT_EQ(w.form->QCCom321().Port(), 1);
    EXPECT_EQ(readFile(w.workDir / "terminal.cfg"), config("3", "1"));  // not saved
    // Cancel checks the unchanged port again and still restarts.
    w.form->fields().setChecked(Check::cfgport3, true);
    w.form->QCCom321().runPickDialog = [](TformPickPort&) { return int(QDialog::Rejected); };
    w.form->Button5Click();
    EXPECT_TRUE(w.form->fields().checked(Check::cfgport1));
    EXPECT_EQ(com1Unit.readMaster(19).substr(0, 4), "\xF0\xF0\xA5\x0B");
}

TEST(PortPicker, WhileStoppedNothingStarts) {
    PtyPair com2Unit;
    for (int n : {1, 3, 4}) setenv(("KVBRIDGE_COM" + std::to_string(n)).c_str(), kMissingDevice, 1);
    ComPortMapping com2(2, com2Unit.slaveName());
    Window w(config("1", "0"));
    w.form->QCCom321().runPickDialog = [](TformPickPort& dialog) {
        dialog.setItemIndex(0);
        return int(QDialog::Accepted);
    };
    w.form->Button5Click();
    EXPECT_TRUE(w.form->fields().checked(Check::cfgport2));
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(w.form->QCCom321().Opened());
    for (int n : {1, 3, 4}) unsetenv(("KVBRIDGE_COM" + std::to_string(n)).c_str());
}

// Faults of the environment the bridge runs in.  Each case starts the window on a working
// directory (and drive C:) prepared for it, runs into the fault, and checks that the bridge says
// what is wrong in Czech, keeps its configuration as it was, and, where a port is open, still
// serves the unit afterwards.
struct Environment {
    PtyPair unit;
    std::optional<ComPortMapping> com1;
    std::filesystem::path driveC;
    std::unique_ptr<SmallFilesystem> driveFs;
    std::unique_ptr<Window> window;
    Window* w = nullptr;

    // The unit sends an event and gets whatever the bridge makes of the reply.
    std::string event(const std::string& reply) {
        unit.drainMaster();
        const std::size_t before = w->http->calls().size();
        unit.writeMaster(std::string("Z\x02\x00\x07\x01\x01\x01\x08\x1E\x00\x05\x03\x18\x00", 14) +
                         std::string(3, '\0'));
        for (int i = 0; i < 10 && w->http->calls().size() == before; ++i) w->form->Timer1Timer();
        if (w->http->calls().size() == before || !w->http->running()) return "no request";
        w->form->Timer1Timer();
        w->http->complete(reply);
        w->form->Timer1Timer();
        return unit.readMaster(19, std::chrono::milliseconds(500));
    }
    // What the operator sees: message boxes and the status fields.
    QString said() const {
        QString all;
        for (const auto& p : w->prompts.shown) all += p.text + "\n";
        for (Field f : {Field::stavprac, Field::stavdatum, Field::stavcip, Field::urls})
            all += fromCp1250(w->form->fields().text(f)) + "\n";
        all += QString::fromStdString(w->form->engine().commDetail());
        return all;
    }
};

using namespace std::string_literals;

const std::string kOk = "---OK---\nNovak Jan\n# udalost ulozena, odpoved dost dlouha\n";

struct EnvironmentCase {
    const char* name;
    std::string config;
    std::function<bool(Environment&)> before;  // false: the fault cannot be made here
    bool readOnlyWorkDir;
    std::function<void(Environment&)> provoke;
    const char* says;  // UTF-8, part of what is shown; empty: nothing needs saying
    std::function<void(Environment&)> recover;
    bool serves;  // the port is open: an event is answered afterwards
};

class EnvironmentFault : public testing::TestWithParam<EnvironmentCase> {};

TEST_P(EnvironmentFault, IsToldInCzechAndNothingHeldIsLost) {
    const EnvironmentCase& c = GetParam();
    Environment e;
    e.com1.emplace(1, e.unit.slaveName());
    bool possible = true;
    e.window = std::make_unique<Window>(std::nullopt, [&](Window& w) {
        e.w = &w;
        e.driveC = w.workDir / "c";
        std::filesystem::create_directories(e.driveC);
        possible = !c.before || c.before(e);
        writeFile(w.workDir / "terminal.cfg", c.config);
        if (w.fs) w.fs->setReadOnly(c.readOnlyWorkDir);
    });
    qunsetenv("KVBRIDGE_DRIVE_C");
    if (!possible) GTEST_SKIP() << "no right to mount a small file system here";
    if (c.provoke) c.provoke(e);
    if (*c.says) {
        EXPECT_TRUE(e.said().contains(QString::fromUtf8(c.says))) << e.said().toStdString();
    } else {
        EXPECT_TRUE(e.w->prompts.shown.empty()) << e.said().toStdString();
    }
    EXPECT_EQ(e.w->form->engine().state().requestKind, RequestKind::None);
    if (c.recover) c.recover(e);
    if (e.w->fs) e.w->fs->setReadOnly(false);
    EXPECT_EQ(readFile(e.w->workDir / "terminal.cfg"), c.config);
    if (c.serves) {
        EXPECT_EQ(e.event(kOk).substr(0, 4), "\xF0\xF0\xA5\x06");
    }
}

// The working directory on its own small file system.
bool smallWorkDir(Environment& e) {
    e.w->fs = std::make_unique<SmallFilesystem>(e.w->workDir, 64 * 1024);
    return e.w->fs->usable();
}

const std::string kRunning = config("1", "1");

INSTANTIATE_TEST_SUITE_P(
    Cases, EnvironmentFault,
    testing::Values(
        // The reply cannot be converted for reading: reported, the request ends, the reply is gone.
        EnvironmentCase{"WorkDirFull", kRunning, smallWorkDir, false,
                        [](Environment& e) {
                            e.unit.writeMaster(std::string("Z\x02", 2) + std::string(15, '\x01'));
                            for (int i = 0; i < 10 && !e.w->http->running(); ++i)
                                e.w->form->Timer1Timer();
                            e.w->form->Timer1Timer();
                            e.w->http->complete(kOk);
                            e.w->fs->fill();
                            e.w->form->Timer1Timer();
                        },
                        "nelze zapsat", [](Environment& e) { e.w->fs->drain(); }, true},
        // get.tmp cannot be created: the request is not sent, and the field says so.
        EnvironmentCase{"WorkDirReadOnly",
                        kRunning,
                        smallWorkDir,
                        true,
                        [](Environment& e) { EXPECT_EQ(e.event(kOk), "no request"); },
                        "Požadavek neodeslán!",
                        {},
                        true},
        EnvironmentCase{"TriggerFileCannotBeDeleted",
                        kRunning,
                        [](Environment& e) {
                            e.driveFs = std::make_unique<SmallFilesystem>(e.driveC, 64 * 1024);
                            std::ofstream(e.driveC / "zamestnanci") << "1";
                            e.driveFs->setReadOnly(true);
                            qputenv("KVBRIDGE_DRIVE_C",
                                    QByteArray::fromStdString(e.driveC.string()));
                            return e.driveFs->usable();
                        },
                        false,
                        [](Environment& e) { e.w->form->Timer1Timer(); },
                        "nejde smazat!!!!",
                        {},
                        true},
        // Line 4 says start, the others are binary: no port, no company id (the NUL in it
        // once cut the explanation off).
        EnvironmentCase{"ConfigBinary",
                        "\x01\xFE\r\n\x00\xFF\x1B\x80\n\x9A\r\n\xE8\r\n1\r\n\xFF\x00\x7F\r\n"s +
                            std::string(300, '\xAA'),
                        {},
                        false,
                        {},
                        "Není vybrán sériový port!",
                        {},
                        false},
        // Sixteen megabytes after the eight lines change nothing.
        EnvironmentCase{
            "ConfigHuge", kRunning + std::string(16 << 20, 'x'), {}, false, {}, "", {}, true},
        EnvironmentCase{"ConfigMissingLines",
                        "1\r\nhttp://127.0.0.1/kw/\r\nlocalhost\r\n1",
                        {},
                        false,
                        {},
                        "není platné číslo firmy",
                        {},
                        true},
        EnvironmentCase{"ConfigEmpty", "", {}, false, {}, "", {}, false},
        // The port's name leads to a plain file: it does not open, and the bridge waits for it.
        EnvironmentCase{
            "DeviceNotATty",
            kRunning,
            [](Environment& e) {
                std::ofstream(e.w->workDir / "ttyS0") << "not a tty";
                e.com1.emplace(1, (e.w->workDir / "ttyS0").string());
                return true;
            },
            false,
            [](Environment& e) { EXPECT_EQ(e.w->form->engine().commState(), CommState::portLost); },
            "není k dispozici",
            {},
            false}),
    [](const testing::TestParamInfo<EnvironmentCase>& info) {
        return std::string(info.param.name);
    });
// An automatic start finds its port missing (a converter that comes up after the PC): no box
// waits for a click, the state says what it waits for, and the port opens once it is there.
TEST(Appstart, AutomaticStartWaitsForAMissingPortWithoutAPrompt) {
    ComPortMapping com2(2, kMissingDevice);
    Window w(config("2", "1"));
    EXPECT_TRUE(w.prompts.shown.empty());
    EXPECT_EQ(w.form->engine().commState(), CommState::portLost);
    EXPECT_TRUE(w.form->reconnect().waiting());
    EXPECT_EQ(w.text("stavprac").toStdString(),
              "Port COM2 (" + std::string(kMissingDevice) + ") není k dispozici, čekám na něj");
    EXPECT_FALSE(w.form->reconnect().retryNow());

    PtyPair unit;
    ComPortMapping appears(2, unit.slaveName());
    ASSERT_TRUE(w.form->reconnect().retryNow());
    EXPECT_EQ(unit.readMaster(19), frameWithTime(11, w.clock));
    EXPECT_EQ(w.form->engine().commState(), CommState::running);
    EXPECT_TRUE(w.form->Timer1().isActive());
    EXPECT_FALSE(w.form->reconnect().waiting());
}

// The tray shows the state and the last identification; "Skrýt" hides the window and a click
// on the icon brings it back; its menu shows, starts, stops and ends.
TEST(Tray, ShowsTheStateAndBringsTheHiddenWindowBack) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"));
    Tray tray(*w.form);
    w.form->fields().setText(Field::stavprac, "Jiri Dvorak");
    tray.refresh();
    EXPECT_TRUE(tray.icon().toolTip().contains("Komunikace spuštěna"));
    EXPECT_TRUE(tray.icon().toolTip().contains("Poslední identifikace: Jiri Dvorak"));
    QStringList actions;
    for (QAction* a : tray.menu().actions())
        if (!a->isSeparator()) actions << a->text();
    EXPECT_EQ(actions, QStringList({"Zobrazit okno", "Start", "Stop", "Ukončit"}));

    w.form->show();
    w.form->findChild<QPushButton*>("skryt")->click();
    EXPECT_FALSE(w.form->isVisible());
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(w.form->isVisible());

    tray.menu().actions().at(2)->trigger();  // Stop
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(tray.icon().toolTip().contains("spuštěna"));
}

}  // namespace
}  // namespace kv::test

namespace kv::test {
namespace {

TEST(Look, StatusFieldsAreReadOnlyWithDarkTextAndFailuresStandOut) {
    Window w(config("2", "0"));
    const QColor dark(Qt::black);
    const QColor red = fieldLook(FieldKind::status, true).text;
    const struct {
        Field field;
        const char* text;
        bool readOnly;
        QColor colour;
    } rows[] = {
        {Field::cfgadresa, "http://server/kordavoweb/", false, dark},
        {Field::idfirmy, "Chyba", false, dark},  // what the operator types is never an alert
        {Field::stavprac, "Dvořák Jiří", true, dark},
        {Field::stavprac, "Doch.server timeout!", true, red},
        {Field::stavprac, "Chyba práv souboru!", true, red},
        {Field::stavdatum, "7.12.2026 12:12:52", true, dark},
        {Field::stavdatum, "Špatná adresa?", true, red},
        {Field::stavcip, "nejde smazat!!!!", true, red},
        {Field::statpc, "6", true, dark},
        {Field::statpc, "Err", true, red},
        {Field::statram, "64 kB", true, dark},
        {Field::statpc, "99", true, dark},  // the same field recovers its colour
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        w.form->fields().setText(row.field, toCp1250(QString::fromUtf8(row.text)));
        auto* edit = w.form->findChild<QLineEdit*>(
            QString::fromLatin1(fieldName(row.field).data(), fieldName(row.field).size()));
        EXPECT_TRUE(edit->isEnabled());
        EXPECT_EQ(edit->isReadOnly(), row.readOnly);
        EXPECT_EQ(edit->palette().color(QPalette::Active, QPalette::Text), row.colour);
    }
    // The state radios are in full colour, yet the operator cannot change them.
    auto* stopped = w.form->findChild<QRadioButton*>("stavstoji");
    EXPECT_TRUE(stopped->isEnabled());
    EXPECT_TRUE(stopped->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_FALSE(w.form->findChild<QLabel*>("stavpopis1")->styleSheet().isEmpty());
}

TEST(Look, EnterPressesTheFocusedButtonAndACaptionTogglesItsBox) {
    Window w(config("2", "0"));
    w.form->fields().setText(Field::idfirmy, "42");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(w.form->findChild<QPushButton*>("cfguloz"), &enter);
    EXPECT_EQ(readFile(w.workDir / "terminal.cfg"), config("2", "0", "42"));

    auto* caption = w.form->findChild<QLabel*>("Label3");  // "Opožděný start:"
    const QPointF inside(caption->width() / 2.0, caption->height() / 2.0);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, caption->mapToGlobal(inside),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(caption, &release);
    EXPECT_TRUE(w.form->fields().checked(Check::slowstart));
}

TEST(Progress, ALongRunShowsRecordsSentOfTheTotalAndStopEndsItAfterTheFrameOnTheLine) {
    Window w(config("1", "1"), [](Window& w) {
        w.fakeLine = std::make_shared<FakeSerialLine>();
        w.fakeLine->clock = &w.clock;
    });
    ASSERT_TRUE(w.running());
    w.form->fields().setChecked(Check::slowcom, true);  // a second per five frames
    w.form->findChild<QLineEdit*>("fiktud")->setText("20");
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
