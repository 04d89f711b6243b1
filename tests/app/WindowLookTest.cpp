#include <gtest/gtest.h>

#include <QJsonArray>
#include <QLineEdit>
#include <QTreeWidget>

#include "app/FailureNotices.h"
#include "app/HistoryView.h"
#include "app/StatusReport.h"
#include "app/WindowRig.h"
#include "link/PortErrorText.h"
#include "link/SerialDevice.h"
#include "support/EngineHarness.h"

namespace kv::test {
namespace {

// The tray shows the state and the last identification; "Skrýt" hides the window and a click
// on the icon brings it back; its menu shows, starts, stops and ends.
TEST(Tray, ShowsTheStateAndBringsTheHiddenWindowBack) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "1"), [](Window& w) { w.desktopTray = true; });
    Tray tray(w.form->bridge());
    w.form->connectTray(tray);
    EXPECT_TRUE(tray.icon().toolTip().contains("Komunikace spuštěna"));
    EXPECT_FALSE(tray.icon().toolTip().contains("identifikace")) << "none yet";
    BridgeStatus status = w.form->bridge().status();
    status.lastIdentification = "07:02:15 Jiří Dvořák";
    status.lastDelivery = WallTime{2026, 12, 7, 7, 2, 16, 1};
    status.lastDeliveryMs = 1'000;
    const QString tip = Tray::toolTipFor(status, 1'000 + 3 * 60'000);
    EXPECT_TRUE(tip.contains("Poslední identifikace: 07:02:15 Jiří Dvořák")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("Poslední úspěšné předání: 07:02:16 (před 3 min)"))
        << tip.toStdString();
    // After a weekend: the date, and the age in words a reader takes in; the last identification
    // with its date too, in the words and in --status --json.
    status.lastIdentificationAt = WallTime{2026, 12, 7, 7, 2, 15, 1};
    status.lastIdentificationMs = 1'000;
    const struct {
        std::int64_t ageMs;
        const char* told;
        bool dated;
    } ages[] = {{89 * 60'000, "07:02:16 (před 89 min)", false},
                {(2 * 60 + 15) * 60'000, "07:02:16 (před 2 h 15 min)", false},
                {17 * 3'600'000, "7.12.2026 07:02:16 (před 17 h 0 min)", true},
                {3 * 86'400'000LL + 5'000, "7.12.2026 07:02:16 (před 3 dny)", true}};
    for (const auto& age : ages) {
        const QString tip = Tray::toolTipFor(status, 1'000 + age.ageMs);
        EXPECT_TRUE(tip.contains(QString("Poslední úspěšné předání: ") + age.told)) << age.told;
        const QString identification =
            QString(age.dated ? "7.12.2026 " : "") + "07:02:15 Jiří Dvořák";
        EXPECT_TRUE(tip.contains("Poslední identifikace: " + identification + "\n")) << age.told;
        EXPECT_EQ(statusJson(status, "/srv/kv", "", 1'000 + age.ageMs)["lastIdentification"],
                  identification);
    }
    // A warning that stands is in the tooltip, the indicator's tooltip and pinned in the history.
    const QString warning = "Chyba práv souboru! Soubor c:kategorie nejde smazat!!!!";
    BridgeProbe::engine(w.form->bridge()).view().addStandingWarning(warning.toStdString());
    BridgeProbe::engine(w.form->bridge()).view().addStandingWarning("nejde smazat");
    EXPECT_TRUE(tray.icon().toolTip().contains(warning));
    EXPECT_TRUE(w.form->findChild<QLabel*>("stavpopis2")->toolTip().contains(warning));
    auto* history = w.form->findChild<QTreeWidget*>("historie");
    ASSERT_GE(history->topLevelItemCount(), 2);
    EXPECT_EQ(history->topLevelItem(0)->text(1), warning);
    EXPECT_EQ(history->topLevelItem(1)->text(1), "nejde smazat");
    QStringList actions;
    for (QAction* a : tray.menu().actions())
        if (!a->isSeparator()) actions << a->text();
    EXPECT_EQ(actions, QStringList({"Zobrazit okno", "Start", "Stop", "Ukončit"}));

    w.form->show();
    auto* name = w.form->findChild<QLineEdit*>("stavprac");
    name->setText("Alžběta Nováková-Přibyslavská z Horních Počernic a Zbraslavi");
    name->setFocus();
    name->selectAll();  // as focus leaves a read-only field's text
    w.form->findChild<QPushButton*>("skryt")->click();
    EXPECT_FALSE(w.form->isVisible());
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(w.form->isVisible());
    EXPECT_EQ(name->cursorPosition(), 0) << "a long name reads from its start";
    EXPECT_FALSE(name->hasSelectedText());

    tray.menu().actions().at(2)->trigger();  // Stop
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(tray.icon().toolTip().contains("spuštěna"));
}

// The tray's tooltip, the indicator's and --status tell the state and its cause in the same
// words, and a cause never repeats the state's name.
TEST(Tray, TooltipsAndStatusTellTheSameWords) {
    const struct {
        CommState state;
        const char* cause;
        const char* line;
    } rows[] = {
        {CommState::running, "", "Komunikace spuštěna"},
        {CommState::portLost, "Port COM1 (/dev/ttyUSB0) ztracen",
         "Port ztracen: Port COM1 (/dev/ttyUSB0) ztracen"},
        {CommState::serverFailing, "Server nedostupný: spojení odmítnuto",
         "Porucha: Server nedostupný: spojení odmítnuto"},
        {CommState::serverFailing, "Porucha", "Porucha"},
    };
    Window w(config("2", "0"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        BridgeStatus status;
        status.state = row.state;
        status.cause = row.cause;
        status.warnings = {"Chyba práv souboru!"};
        status.lastIdentification = "07:02:15 Jiří Dvořák";
        status.instance = "/srv/kv";
        EXPECT_EQ(statusLine(status), std::string(row.line) + "; Chyba práv souboru!");
        showBridgeStatus(*w.form, status, 0);
        const QString text = statusText(statusJson(status, "/srv/kv", "", 0));
        // The indicator follows the state: communication is on, the running caption is lit.
        const QString indicator = w.form->findChild<QLabel*>("stavpopis2")->toolTip();
        const QStringList told = indicator.split('\n');
        EXPECT_EQ(Tray::toolTipFor(status, 0), "Kordavo – řídící jednotka\n" + indicator);
        EXPECT_EQ(told.first(), QString::fromUtf8(row.line));
        const StatusWords words = statusWords(status, 0);
        EXPECT_TRUE(text.contains("Stav: " + QString::fromStdString(words.state) + "\n"));
        if (!words.cause.empty()) {
            EXPECT_TRUE(text.contains("Příčina: " + QString::fromStdString(words.cause) + "\n"));
        }
        for (const QString& line : told.mid(1, 2))
            EXPECT_TRUE(text.contains(line + "\n")) << line.toStdString();
    }
}

// A failure is told once it has lasted a minute, again each hour or when another kind has lasted
// a minute, and its end once; a failure that ends sooner, and one ended by Stop, are not told.
TEST(FailureWatch, TellsAFailureThatLastsAndItsEnd) {
    const struct {
        std::int64_t atMs;
        CommState state;
        std::uint64_t tableFailures;
        std::optional<Tone> told;
        bool refusing = false;
        bool unitSilent = false;
        const char* text = nullptr;
    } rows[] = {
        {0, CommState::serverFailing, 0, {}},
        {30'000, CommState::running, 0, {}},  // over within the minute
        {40'000, CommState::portLost, 0, {}},
        {99'999, CommState::portLost, 0, {}},
        {100'000, CommState::serverFailing, 0, Tone::failure},  // one episode, two kinds
        {100'000 + 3'599'999, CommState::serverFailing, 0, {}},
        {100'000 + 3'600'000, CommState::serverFailing, 0, Tone::failure},
        {3'800'000, CommState::portLost, 0, {}},  // another kind: told after its own minute
        {3'859'999, CommState::portLost, 0, {}},
        {3'860'000, CommState::portLost, 0, Tone::failure},
        {3'900'000, CommState::portLost, 0, {}},
        {3'950'000, CommState::serverFailing, 0, Tone::normal},  // the port back, the server not
        {3'999'999, CommState::serverFailing, 0, {}},            // and not told again for it
        {4'000'000, CommState::running, 0, Tone::normal},
        {4'000'001, CommState::running, 2, {}},  // the tables failing
        {4'060'001, CommState::running, 2, Tone::failure},
        {4'065'000, CommState::running, 0, Tone::normal},
        {4'065'001, CommState::running, 0, {}, true},  // every identification refused
        {4'125'001, CommState::running, 0, Tone::failure, true},
        {4'126'000, CommState::running, 0, Tone::normal},
        {4'126'001, CommState::running, 0, {}, false, true},  // the unit does not answer
        {4'186'001, CommState::running, 0, Tone::failure, false, true,
         "RJ neodpovídá – zkontrolujte port a kabel"},
        {4'190'000, CommState::running, 0, Tone::normal, false, false, "RJ opět odpovídá"},
        {4'070'000, CommState::stopped, 0, {}},  // the operator stopped it
        {9'000'000, CommState::stopped, 0, {}},
        // A server that comes and goes: told once in 10 minutes, then one summary.
        {9'100'000, CommState::serverFailing, 0, {}},
        {9'160'000, CommState::serverFailing, 0, Tone::failure},
        {9'200'000, CommState::running, 0, Tone::normal},
        {9'300'000, CommState::serverFailing, 0, {}},
        {9'360'000, CommState::serverFailing, 0, {}},
        {9'400'000, CommState::running, 0, {}},
        {9'500'000, CommState::serverFailing, 0, {}},
        {9'560'000, CommState::serverFailing, 0, {}},
        {9'600'000, CommState::running, 0, {}},
        {9'760'000, CommState::running, 0, Tone::normal, false, false,
         "3 výpadky serveru za posledních 10 min"},
        // The server's failure told, the port lost for a moment: its return is no news, the
        // server's recovery is.
        {20'000'000, CommState::serverFailing, 0, {}},
        {20'060'000, CommState::serverFailing, 0, Tone::failure},
        {20'070'000, CommState::portLost, 0, {}},
        {20'075'000, CommState::running, 0, Tone::normal, false, false,
         "Server opět odpovídá, identifikace se předávají"},
    };
    FailureWatch watch;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.atMs);
        BridgeStatus status;
        status.state = row.state;
        status.tableFailures = row.tableFailures;
        status.serverRefusing = row.refusing;
        status.unitSilent = row.unitSilent;
        status.unitSpokeBefore = row.unitSilent;
        const auto notice = watch.observe(status, row.atMs);
        ASSERT_EQ(notice.has_value(), row.told.has_value());
        if (notice) {
            EXPECT_EQ(notice->tone, *row.told);
            if (row.text) {
                EXPECT_EQ(notice->text, row.text);
            }
        }
    }
}

// The tray shows a failure that lasted a minute with its cause and what to check, and a short
// notice when it is over; without a tray the failure brings the hidden window up.
TEST(FailureWatch, TheTrayTellsAFailureThatLastsOrTheWindowComesUp) {
    for (const bool desktopTray : {true, false}) {
        SCOPED_TRACE(desktopTray);
        ComPortMapping com2(2, "/dev/kvtest-unit");
        Window w(config("2", "1"), [&](Window& w) {
            w.desktopTray = desktopTray;
            w.fakeLine = std::make_shared<FakeSerialLine>();
            w.fakeLine->failingNames = {"/dev/kvtest-unit"};
        });
        Tray tray(w.form->bridge());
        w.form->connectTray(tray);
        std::vector<Notice> told;
        QObject::connect(&tray, &Tray::noticeShown, [&](const Notice& n) { told.push_back(n); });
        auto* notices = w.form->findChild<FailureNotices*>();
        ASSERT_EQ(w.form->bridge().status().state, CommState::portLost);
        const auto after = [&](std::int64_t ms) {
            w.clock.advanceMs(ms);
            notices->check();
            return told.size();
        };
        EXPECT_EQ(after(59'000), 0u);
        EXPECT_FALSE(w.form->isVisible());
        EXPECT_EQ(after(1'000), desktopTray ? 1u : 0u);
        EXPECT_EQ(w.form->isVisible(), !desktopTray);
        EXPECT_EQ(after(30 * 60'000), desktopTray ? 1u : 0u);
        w.fakeLine->failingNames.clear();
        ASSERT_TRUE(w.form->bridge().retryPortNow());
        if (!desktopTray) continue;
        ASSERT_EQ(told.size(), 2u);
        EXPECT_EQ(told[0].text,
                  "Čekám na port: Port COM2 není k dispozici, čekám na něj (/dev/kvtest-unit)\n"
                  "Zkontrolujte kabel a převodník k RJ; port se použije, jakmile bude zpět.");
        EXPECT_EQ(told[1].title, "Kordavo – port je zpět") << "it names what recovered";
        EXPECT_EQ(told[1].text, "Port COM2 (/dev/kvtest-unit) je zpět");
        EXPECT_EQ(after(2 * 3'600'000), 2u);
    }
}

// A silent unit is a warning in the words, the tone, --status (exit 1) and --json's warnings,
// which also tell how long the unit has been quiet; its words say whether it ever spoke.
TEST(Tray, ASilentUnitIsAWarningInTheStatus) {
    BridgeStatus status;
    status.state = CommState::running;
    status.unitSilent = true;
    status.lastUnitFrameMs = 1'000;
    const QJsonObject json = statusJson(status, "/srv/kv", "", 61'000);
    EXPECT_EQ(statusExitCode(json), 1);
    EXPECT_EQ(json["warnings"].toArray().first().toString(), QString::fromUtf8(kUnitSilentText));
    EXPECT_EQ(json["lastUnitFrameSecondsAgo"].toInteger(), 60);
    EXPECT_TRUE(json["unitSilent"].toBool());
    EXPECT_TRUE(statusText(json).contains(QString::fromUtf8(kUnitSilentText)));
    EXPECT_EQ(statusLine(status), std::string("Komunikace spuštěna; ") + kUnitSilentText);
    status.unitSpokeBefore = true;
    EXPECT_EQ(statusLine(status), std::string("Komunikace spuštěna; ") + kUnitNotAnsweringText);
}

// The history the engine leaves: each identification delivered keeps its own line and time (five
// workers in turn, three times over); one identification's failures fold into one line with the
// latest time; the port's lines say what happened first, the device last.
TEST(History, EachDeliveryKeepsItsLineAndOneEventRepeatedFolds) {
    EngineHarness h;
    QTreeWidget view;
    setUpHistory(view);
    h.engine->view().setHistoryListener([&](const HistoryEntry& e) { addHistory(view, e); });
    for (int round = 0; round < 3; ++round)
        for (int worker = 1; worker <= 5; ++worker) {
            h.clock.advanceMs(4'000);
            request(h, frameOf({2, 0, worker, 3, 4, 5, 7, 4 + round, 9, 5, 3, 24}));
            reply(h, "---OK---\nPracovn\xEDk " + std::to_string(worker) + "\n# padding line\n");
        }
    ASSERT_EQ(view.topLevelItemCount(), 15);
    QSet<QString> times;
    for (int i = 0; i < 15; ++i) times.insert(view.topLevelItem(i)->text(0));
    EXPECT_EQ(times.size(), 15);
    EXPECT_EQ(view.topLevelItem(0)->text(1), "Pracovník 5 – předáno");
    EXPECT_EQ(view.topLevelItem(4)->text(1), "Pracovník 1 – předáno");

    const CommandFrame failing = frameOf({2, 0, 9, 3, 4, 5, 7, 9, 9, 5, 3, 24});
    for (int repeat = 0; repeat < 3; ++repeat) {
        h.clock.advanceMs(5'000);
        request(h, failing);
        h.http.complete("", 500);
        h.tick();
    }
    ASSERT_EQ(view.topLevelItemCount(), 16);
    EXPECT_EQ(view.topLevelItem(0)->text(0).toStdString(), "07:05:20");
    EXPECT_EQ(view.topLevelItem(0)->text(1).toStdString(),
              "kód 3 – nepředáno: Server vrátil chybu 500 Internal Server Error – chyba webové "
              "aplikace? (3×, naposledy 07:05:31)");

    QObject::connect(h.com.get(), &TQCCom32::deviceLost, [&h] { h.engine->portLost(); });
    h.line->lostCause = "Input/output error";
    h.tick();
    EXPECT_EQ(view.topLevelItem(0)->text(1).toStdString(),
              "Port COM1 ztracen, čekám na jeho návrat" +
                  portLabel(1, portDeviceName(1)).toStdString().substr(4));
}

// A history that reads after a weekend: the entries of earlier days show their date, and a
// repeat on another day is a line of its own.
TEST(History, EarlierDaysShowTheirDate) {
    QTreeWidget view;
    setUpHistory(view);
    const std::string failed = "kód 1 – nepředáno: Server neodpověděl do 30 s";
    addHistory(view, {WallTime{2026, 12, 4, 17, 0, 5}, failed, Tone::failure, failed});
    addHistory(view, {WallTime{2026, 12, 4, 17, 31, 0}, "Server opět odpovídá", Tone::normal, ""});
    addHistory(view, {WallTime{2026, 12, 7, 7, 2, 15}, failed, Tone::failure, failed});
    ASSERT_EQ(view.topLevelItemCount(), 3) << "another day's failure is a line of its own";
    EXPECT_EQ(view.topLevelItem(0)->text(0), "07:02:15");
    EXPECT_EQ(view.topLevelItem(2)->text(0), "4.12. 17:00:05");
}

// The package's icon is built in at the sizes desktops ask for.  The tray's states differ by
// shape as well as colour: in grey, as an eye that tells no red from green sees it, a failure
// still differs from a pause and from all well.
TEST(Tray, TheIconIsThePackagesAndItsStatesDifferInGrey) {
    const QIcon package = Tray::packageIcon();
    EXPECT_TRUE(package.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(package.availableSizes().contains(QSize(256, 256)));
    const auto grey = [](TrayMark mark) {
        return Tray::paintIcon(QColor(0x75, 0x75, 0x75), mark)
            .pixmap(22, 22)
            .toImage()
            .convertToFormat(QImage::Format_Grayscale8);
    };
    EXPECT_NE(grey(TrayMark::none), grey(TrayMark::failure));
    EXPECT_NE(grey(TrayMark::none), grey(TrayMark::paused));
    EXPECT_NE(grey(TrayMark::failure), grey(TrayMark::paused));
    const std::tuple<CommState, Tone, TrayMark> marks[] = {
        {CommState::stopped, Tone::normal, TrayMark::paused},
        {CommState::portLost, Tone::failure, TrayMark::failure},
        {CommState::serverFailing, Tone::failure, TrayMark::failure},
        {CommState::running, Tone::normal, TrayMark::none},
        {CommState::running, Tone::warning, TrayMark::none},
        {CommState::delayedStart, Tone::warning, TrayMark::none},
    };
    for (const auto& [state, tone, mark] : marks) {
        BridgeStatus status;
        status.state = state;
        status.tone = tone;
        EXPECT_EQ(Tray::markFor(status), mark) << int(state);
    }
}

TEST(Look, StatusFieldsAreReadOnlyWithDarkTextAndFailuresStandOut) {
    Window w(config("2", "0"));
    const QColor dark(Qt::black);
    const QColor red = fieldLook(FieldKind::status, true).text;
    // The colour comes with the text from the engine, never from its words.
    const struct {
        Field field;
        const char* text;
        Tone tone;
        bool readOnly;
        QColor colour;
    } rows[] = {
        {Field::stavprac, "Dvořák Jiří", Tone::normal, true, dark},
        {Field::stavprac, "Doch.server timeout!", Tone::failure, true, red},
        {Field::stavprac, "Port COM1 (/dev/ttyS0) je zpět", Tone::normal, true, dark},
        {Field::stavprac, "Chyba práv souboru!", Tone::failure, true, red},
        {Field::stavdatum, "7.12.2026 12:12:52", Tone::normal, true, dark},
        {Field::stavdatum, "Špatná adresa?", Tone::failure, true, red},
        {Field::stavcip, "nejde smazat!!!!", Tone::failure, true, red},
        {Field::urls, "Tabulky nepřeneseny: odpověď serveru není tabulka", Tone::failure, false,
         red},
        {Field::statpc, "6", Tone::normal, true, dark},
        {Field::statpc, "Err", Tone::failure, true, red},
        {Field::statram, "64 kB", Tone::normal, true, dark},
        {Field::statpc, "99", Tone::normal, true, dark},  // the same field recovers its colour
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        w.form->fields().show(row.field, {toCp1250(QString::fromUtf8(row.text)), row.tone});
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
    w.form->fields().setText(Setting::idfirmy, "42");
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

// The indicator keeps the window's 8-point font in every state and its caption is whole: a style
// sheet set and cleared on every change must not hand it the desktop's larger font.
TEST(Look, TheIndicatorKeepsTheWindowFontInEveryState) {
    PtyPair unit;
    ComPortMapping com1(1, unit.slaveName());
    Window w(config("1", "0"));
    w.form->show();
    const QFont font = w.form->font();
    for (const char* step : {"stopped", "running", "stopped again", "running again"}) {
        SCOPED_TRACE(step);
        if (QString(step).startsWith("running"))
            w.form->terminalstart();
        else if (QString(step) == "stopped again")
            w.form->appstop();
        QCoreApplication::processEvents();
        for (const char* name : {"stavpopis1", "stavpopis2"}) {
            SCOPED_TRACE(name);
            auto* label = w.form->findChild<QLabel*>(name);
            EXPECT_EQ(label->font().family().toStdString(), font.family().toStdString());
            EXPECT_EQ(label->font().pointSizeF(), font.pointSizeF());
            EXPECT_EQ(label->font().weight(), font.weight());
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()),
                      label->contentsRect().width());
        }
    }
}

// Tab never lands on a control the window does not show (Space on the unseen "Pošli čas do RJ"
// set the unit's clock), and a button out of view has no Alt shortcut; both come back when the
// window grows.  The shortcuts are unique and leave the captions as they read.
TEST(Keyboard, TabAndAltReachOnlyWhatTheWindowShows) {
    Window w(config("2", "0"));
    w.form->show();
    const struct {
        const char* name;
        const char* caption;
    } buttons[] = {
        {"stavstart", "Start"},
        {"stavstop", "Stop"},
        {"cfguloz", "Uložit"},
        {"skryt", "Skrýt"},
        {"Button5", "Porty?"},
        {"sendtime", "Pošli čas do RJ"},
        {"Button2", "Přenes ID z RJ"},
        {"Button3", "Přepočítej docházku"},
        {"Button1", "Pošli tabulky do RJ"},
        {"statbut", "Aktualizuj statistiku RJ"},
        {"Button4", "Generuj a odešli do RJ"},
    };
    QSet<QKeySequence> shortcuts;
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.name);
        auto* button = w.form->findChild<QPushButton*>(b.name);
        EXPECT_EQ(QString(button->text()).remove('&'), QString::fromUtf8(b.caption));
        const QKeySequence key = QKeySequence::mnemonic(button->text());
        EXPECT_FALSE(key.isEmpty());
        EXPECT_FALSE(shortcuts.contains(key)) << key.toString().toStdString();
        shortcuts << key;
    }
    const auto inView = [&](QWidget* widget) {
        const QRect area(widget->mapTo(w.form.get(), QPoint(0, 0)), widget->size());
        return area.top() >= 0 && area.bottom() < w.form->height() && area.left() < w.form->width();
    };
    for (const QSize size : {QSize(511, 137), QSize(1280, 1000), QSize(511, 137)}) {
        SCOPED_TRACE(size.height());
        w.form->resize(size);
        w.form->findChild<QWidget*>("cfgadresa")->setFocus();
        QSet<QString> reached;
        for (int tab = 0; tab < 25; ++tab) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
            QCoreApplication::sendEvent(w.form->focusWidget(), &press);
            QWidget* focused = w.form->focusWidget();
            ASSERT_NE(focused, nullptr);
            EXPECT_TRUE(inView(focused)) << tab << ": " << focused->objectName().toStdString();
            reached << focused->objectName();
        }
        const bool whole = size.height() > 137;
        EXPECT_TRUE(reached.contains("stavstart"));
        EXPECT_EQ(reached.contains("sendtime"), whole);
        for (const auto& b : buttons) {
            auto* button = w.form->findChild<QPushButton*>(b.name);
            EXPECT_EQ(button->shortcut().isEmpty(), !inView(button)) << b.name;
        }
        EXPECT_EQ(w.form->findChild<QPushButton*>("sendtime")->shortcut().isEmpty(), !whole);
    }
}

}  // namespace
}  // namespace kv::test
