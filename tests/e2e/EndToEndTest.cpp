// The bridge between the unit simulator and the stand-in web application, all three as the
// real programs: what the unit sent must reach the web application once, and what the web
// application answered or served must reach the unit.
#include <gtest/gtest.h>

#include <QDate>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <fstream>

#include "app/TForm1.h"
#include "e2e/EndToEndFixture.h"
#include "support/Pty.h"
#include "support/ScriptedPrompts.h"

namespace kv::e2e {
namespace {

// Chip events asking for the name, card events every fourth, the unknown chip and its card
// among them: every known worker's name arrives on the unit, the unknown ones are refused.
TEST_F(EndToEnd, EventsReachTheWebApplicationAndNamesComeBack) {
    const int events = 12, cardEvery = 4;
    startUnitAndBridge({"--chips", chipList(), "--events", QString::number(events), "--interval",
                        "1", "--card-every", QString::number(cardEvery), "--name-request", "always",
                        "--answer-timeout", "6"});
    expectFinished(scaled(120s));

    // What the unit's event k carries and what the web application makes of it.
    const int chips = std::size(kWorkers) + 1;
    QStringList expectedNames;
    int expectedAnswered = 0;
    const QJsonArray stored = web->events();
    ASSERT_EQ(stored.size(), events);
    for (int k = 1; k <= events; ++k) {
        const int position = (k - 1) % chips;
        const bool known = position < int(std::size(kWorkers));
        const QString chip = known ? kWorkers[position].chip : kUnknownChip;
        const bool card = k % cardEvery == 0;
        const QJsonObject e = stored[k - 1].toObject();
        SCOPED_TRACE("event " + std::to_string(k) + ": " + e["query"].toString().toStdString());

        EXPECT_EQ(e["prikaz"].toInt(), card ? 6 : 2);
        EXPECT_EQ(e["kod"].toString(), QString::number(position + 1));
        if (card) {
            EXPECT_EQ(e["karta"].toString(), cardOf(chip));
        } else {
            EXPECT_EQ(e["indexza"].toString(), QString::number(k));
        }
        EXPECT_EQ(e["ok"].toInt(), known ? 1 : 0);
        // The date travels as Y-M-D%20h:m:s without leading zeros.
        EXPECT_TRUE(
            QRegularExpression(R"(&datum=20\d\d-[1-9]\d?-[1-9]\d?%20\d{1,2}:\d{1,2}:\d{1,2}($|&))")
                .match(e["query"].toString())
                .hasMatch());
        EXPECT_FALSE(e["query"].toString().contains("httphost"));
        EXPECT_FALSE(e["query"].toString().contains("firma"));
        if (known) ++expectedAnswered;
        if (known && !card) expectedNames << kWorkers[position].onUnit;
    }

    const QJsonObject summary = sim->summary();
    EXPECT_EQ(count(summary, "events_sent"), events);
    EXPECT_EQ(count(summary, "answered"), expectedAnswered);
    EXPECT_EQ(count(summary, "timed_out"), events - expectedAnswered);
    // Card events never ask for the name.
    EXPECT_EQ(names(summary), expectedNames);
    expectEventsAccountedFor(summary, stored);
}

// The web application's tables change and it drops a trigger file: the bridge announces new
// tables, the unit asks, and every record arrives as the web application served it.
TEST_F(EndToEnd, ATriggerFileBringsTheTablesIntoTheUnit) {
    startUnitAndBridge({"--chips", chipList(), "--events", "0", "--forever"});
    const QString trigger = dir("c") + "/zamestnanci";

    web->get("admin.php?action=trigger&file=zamestnanci");
    ASSERT_TRUE(waitUntil([&] { return readLines(sim->tablesPath()).size() > 0; }, scaled(20s)))
        << sim->log().right(3000).toStdString();
    EXPECT_FALSE(QFile::exists(trigger)) << "the bridge deletes the trigger file";
    const QJsonArray served = web->requests("1");
    ASSERT_EQ(served.size(), 1);
    const QStringList first =
        expectedUnitTables(served[0].toObject()["answer"].toString().toLatin1());
    ASSERT_EQ(first.size(), 8);  // five employees, three categories
    EXPECT_EQ(readLines(sim->tablesPath()), first);

    // A new employee, announced through the other trigger file.
    web->get(
        "admin.php?action=add_employee&idx=6&chip=0000DEADBEEF&name=%C5%A0t%C4%9Bp%C3%A1n%20Nov%C3%"
        "BD"
        "&arrival=630&category=3&balance=-75");
    web->get("admin.php?action=trigger&file=kategorie");
    ASSERT_TRUE(waitUntil([&] { return readLines(sim->tablesPath()).size() == 9; }, scaled(20s)))
        << sim->log().right(3000).toStdString();
    EXPECT_FALSE(QFile::exists(dir("c") + "/kategorie"));
    const QJsonArray again = web->requests("1");
    ASSERT_EQ(again.size(), 2);
    const QStringList second =
        expectedUnitTables(again[1].toObject()["answer"].toString().toLatin1());
    EXPECT_TRUE(second.contains("S1 6 0000DEADBEEF 0630 3 129 15"));
    EXPECT_EQ(readLines(sim->tablesPath()), second);
}

// The unit reports its clock at start; the web application hears of it and the bridge sets the
// unit's clock in answer.
TEST_F(EndToEnd, AClockReportIsAnsweredWithTheTime) {
    startUnitAndBridge(
        {"--chips", chipList(), "--events", "0", "--clock-report-at-start", "--forever"});
    // Set once by the start frame, once in answer to the report.
    ASSERT_TRUE(sim->waitForLog("clock set to", 2, scaled(20s))) << sim->log().toStdString();
    ASSERT_TRUE(sim->stop());

    const QJsonArray reports = web->requests("7");
    ASSERT_EQ(reports.size(), 1);
    const QJsonObject r = reports[0].toObject();
    EXPECT_TRUE(QRegularExpression("^prikaz=7&rok=1&mes=\\d+&den=\\d+&hod=\\d+&min=\\d+&sec=\\d+$")
                    .match(r["query"].toString())
                    .hasMatch())
        << r["query"].toString().toStdString();
    EXPECT_TRUE(r["answer"].toString().startsWith("---OK---"));

    const QJsonObject summary = sim->summary();
    EXPECT_EQ(count(summary, "clock_reports"), 1);
    EXPECT_EQ(count(summary, "clock_sets"), 2);
}

// The web application goes away while an event is under way: the bridge sees the failure at
// once, nothing is retried, and once the web application is back the next event goes through.
TEST_F(EndToEnd, AnEventLostInAServerOutageFailsAtOnceAndTheNextGoesThrough) {
    startUnitAndBridge({"--chips", chipList(), "--events", "3", "--interval", "5", "--name-request",
                        "always", "--answer-timeout", "33"});

    ASSERT_TRUE(waitUntil([&] { return web->events().size() == 1; }, scaled(20s)));
    web->stop();
    // The bridge finds the server gone and is free again at once ...
    ASSERT_TRUE(bridge->waitForOutput("attendance server unreachable", scaled(20s)))
        << bridge->output().toStdString();
    web->start(web->port());
    // ... and takes the next event, which the unit sends once it has given up on the lost one.
    expectFinished(scaled(80s));

    const QJsonObject summary = sim->summary();
    EXPECT_EQ(count(summary, "events_sent"), 3);
    EXPECT_EQ(count(summary, "answered"), 2);
    EXPECT_EQ(count(summary, "timed_out"), 1);
    EXPECT_EQ(names(summary), QStringList({"Jiri Dvorak", "Vaclav Ruzicka"}));
    EXPECT_FALSE(bridge->output().contains("no reply from the attendance server in time"));

    const QJsonArray stored = web->events();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored[0].toObject()["indexza"].toString(), "1");
    EXPECT_EQ(stored[1].toObject()["indexza"].toString(), "3");
    expectEventsAccountedFor(summary, stored);
}

// The window in this process, over the simulator and the web application: a question the
// operator leaves standing (Porty?, then the fictitious events' confirmation) holds nothing up,
// and the unit's identifications are forwarded and answered with the names under each.
TEST_F(EndToEnd, AQuestionStandingHoldsUpNoIdentification) {
    sim->start({"--chips", chipList(), "--events", "6", "--interval", "1", "--name-request",
                "always", "--answer-timeout", "6"});
    test::ComPortMapping com1(1, sim->device().toStdString());
    const std::filesystem::path work = dir("work").toStdString();
    std::ofstream(work / "terminal.cfg", std::ios::binary)
        << "1\r\n"
        << web->baseUrl().toStdString() << "\r\nlocalhost\r\n1\r\n0\r\n0\r\n0\r\n0\r\n";
    qputenv("KVBRIDGE_DRIVE_C", dir("c").toUtf8());
    SystemClock clock;
    test::ScriptedPrompts prompts;
    FormServices services;
    services.bridge = BridgeParts::production(prompts, clock, work);
    services.trayAvailable = [] { return false; };
    TForm1 form(services);
    form.appstart();
    const auto storedWhileAsked = [&](int events) {
        EXPECT_TRUE(waitUntil([&] { return web->events().size() >= events; }, scaled(30s)))
            << sim->log().right(2000).toStdString();
    };
    form.portPicker().runPickDialog = [&](TformPickPort&) {
        storedWhileAsked(3);
        return int(QDialog::Rejected);
    };
    prompts.whileShown = [&](const test::ScriptedPrompts::Shown&) { storedWhileAsked(6); };
    form.findChild<QLineEdit*>("fiktud")->setText("3");
    form.findChild<QPushButton*>("Button5")->click();
    form.findChild<QPushButton*>("Button4")->click();  // answered Ne: nothing is sent
    ASSERT_TRUE(sim->waitFinished(scaled(30s))) << sim->log().right(4000).toStdString();
    const QJsonObject summary = sim->summary();
    // Every known worker answered with the name; the unknown chip is refused, unanswered.
    EXPECT_EQ(count(summary, "answered"), 5);
    EXPECT_EQ(names(summary).size(), 5);
    EXPECT_EQ(web->events().size(), 6);
    qunsetenv("KVBRIDGE_DRIVE_C");
}

// The unit bursts statistics and chip frames behind its table request, so frames arrive while
// the request runs, while the tables go out and across the purge that ends the download: every
// frame the bridge takes is one the unit sent, whole, and the tables arrive complete.
TEST_F(EndToEnd, ABurstDuringATableDownloadSplicesNoFrame) {
    bridge->loggingRules = "kvbridge.sync.debug=true";
    startUnitAndBridge({"--chips", chipList(), "--events", "5", "--interval", "1",
                        "--burst-with-tables", "12", "--answer-timeout", "15", "--forever"});
    web->get("admin.php?action=trigger&file=zamestnanci");
    ASSERT_TRUE(waitUntil(
        [&] { return readLines(sim->tablesPath()).size() == 8 && web->events().size() == 5; },
        scaled(60s)))
        << sim->log().right(3000).toStdString();
    ASSERT_TRUE(waitUntil([&] { return sim->log().count("pc>unit FC6") == 5; }, scaled(20s)));
    ASSERT_TRUE(sim->stop());

    const QRegularExpression frame("((?:[0-9A-F]{2} ){15}[0-9A-F]{2})");
    std::set<QString> sent;
    for (const QByteArray& line : sim->log().split('\n')) {
        const int at = line.indexOf("unit>pc");
        const int bytes = line.indexOf("| 5A ", at);
        if (at >= 0 && bytes > at) sent.insert(frame.match(line.mid(bytes + 5)).captured(1));
    }
    int received = 0;
    for (const QByteArray& line : bridge->output().split('\n')) {
        const int at = line.indexOf("sync: received ");
        if (at < 0) continue;
        ++received;
        const QString bytes = frame.match(line.mid(at)).captured(1);
        EXPECT_TRUE(sent.count(bytes)) << "a frame the unit never sent: " << bytes.toStdString();
    }
    EXPECT_GE(received,
              6 + 5);  // the table request, the events, and the burst frames after the purge
    const QJsonObject summary = sim->summary();
    EXPECT_EQ(count(summary, "events_sent"), 5);
    EXPECT_EQ(count(summary, "answered"), 5);
    expectEventsAccountedFor(summary, web->events());
}

// Every event is cut short on the line and sent again whole a second later, while the bridge
// still waits for the rest of the first: only the whole one reaches the web application.
TEST_F(EndToEnd, ADamagedEventIsDroppedAndItsResendArrivesWhole) {
    startUnitAndBridge({"--chips", chipList(), "--events", "2", "--interval", "1",
                        "--truncate-every", "1", "--resend-after", "1", "--answer-timeout", "6"});
    expectFinished(scaled(60s));

    const QJsonObject summary = sim->summary();
    EXPECT_EQ(count(summary, "events_resent"), 2);
    EXPECT_EQ(count(summary, "answered"), 2);
    const QJsonArray stored = web->events();
    ASSERT_EQ(stored.size(), 2);
    for (int k = 1; k <= 2; ++k) {
        const QJsonObject e = stored[k - 1].toObject();
        EXPECT_EQ(e["indexza"].toString(), QString::number(k));
        // A frame completed from the resend's first bytes would carry its FrameCode as the year.
        EXPECT_EQ(e["datum"].toString().left(4).toInt(), QDate::currentDate().year());
    }
    expectEventsAccountedFor(summary, stored);
}

// Noise between frames, frames arriving in two pieces, marker bytes inside the data: every
// event still arrives once and is answered.
TEST_F(EndToEnd, NoiseAndSplitFramesLoseNoEvent) {
    const int events = 8;
    startUnitAndBridge({"--chips", chipList(), "--events", QString::number(events), "--interval",
                        "1", "--name-request", "alternate", "--noise", "--split", "--z-in-data",
                        "--stats-at-start", "--answer-timeout", "6"});
    expectFinished(scaled(90s));

    const QJsonObject summary = sim->summary();
    const QJsonArray stored = web->events();
    EXPECT_EQ(count(summary, "events_sent"), events);
    ASSERT_EQ(stored.size(), events);
    for (int k = 1; k <= events; ++k)
        EXPECT_EQ(stored[k - 1].toObject()["indexza"].toString(), QString::number(k));
    // Event 6 is the unknown chip: refused by the web application, so no answer.
    EXPECT_EQ(count(summary, "answered"), events - 1);
    EXPECT_EQ(names(summary),
              QStringList({"Jiri Dvorak", "Vaclav Ruzicka", "Ondrej Kus", "Jiri Dvorak"}));
    expectEventsAccountedFor(summary, stored);
}

}  // namespace
}  // namespace kv::e2e
