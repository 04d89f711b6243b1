// The bridge between the unit simulator and the stand-in web application, all three as the
// real programs: what the unit sent must reach the web application once, and what the web
// application answered or served must reach the unit.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonValue>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <iostream>
#include <map>
#include <memory>
#include <set>

#include "e2e/Rig.h"
#include "support/WebStub.h"

namespace kv::e2e {
namespace {

// The seeded employees in table order, so a unit holding these chips in this order reports
// position n as kod n, and the name each one carries on the unit: diacritics stripped, cut to
// the fifteen characters of an answer frame.
struct Worker {
    int kod;
    const char* chip;
    const char* onUnit;
};
const Worker kWorkers[] = {
    {1, "0000A1B2C3D4", "Jiri Dvorak"},    {2, "0000A1B2C3D5", "Zofie Stepankov"},
    {3, "04F31A2B3C4D", "Vaclav Ruzicka"}, {4, "000099887766", "Ludmila Cermako"},
    {5, "00005A5A5A5A", "Ondrej Kus"},
};
// Sixth on the unit's list, so kod 6, which the web application does not know.
const char* const kUnknownChip = "0000DEADBEEF";

// The card number as the bridge forwards it: the unit sends the card low byte first.
QString cardOf(const QString& chip) {
    QString card;
    for (int i = chip.size() - 2; i >= 0; i -= 2) card += chip.mid(i, 2);
    return card;
}

// Balance codec of the unit: hours with flags, minutes with flag.
std::pair<int, int> balanceBytes(int minutes) {
    const bool negative = minutes < 0;
    const int m = (negative ? -minutes : minutes) % 65536;
    const int h = m / 60, n = m % 60;
    if (negative) return h < 100 ? std::pair{h + 128, n} : std::pair{227, 99};
    if (h < 100) return {h, n};
    if (h < 200) return {h - 100, n + 128};
    if (h < 300) return {h - 200 + 128, n + 128};
    return {227, 227};
}

// The records the unit must hold after downloading a table reply, in the simulator's notation.
QStringList expectedUnitTables(const QByteArray& reply) {
    QStringList records;
    bool section2 = false;
    for (const QByteArray& line : reply.split('\n')) {
        if (line.startsWith("-------")) {
            section2 = true;
            continue;
        }
        const QList<QByteArray> f = line.split('|');
        if (f.size() != 5) continue;
        if (!section2) {
            const QByteArray hhmm = f[2].rightJustified(4, '0');
            const auto [b13, b14] = balanceBytes(f[4].toInt());
            records << QString("S1 %1 %2 %3 %4 %5 %6")
                           .arg(f[0].toInt())
                           .arg(QString::fromLatin1(f[1]))
                           .arg(QString::fromLatin1(hhmm))
                           .arg(f[3].toInt())
                           .arg(b13)
                           .arg(b14);
        } else {
            const int from = f[2].toInt(), to = f[3].toInt();
            records << QString("S2 %1 %2 %3 %4 %5 %6 %7")
                           .arg(f[0].toInt())
                           .arg(f[1].toInt())
                           .arg(from / 60)
                           .arg(from % 60)
                           .arg(to / 60)
                           .arg(to % 60)
                           .arg(f[4].toInt());
        }
    }
    return records;
}

QStringList readLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

int count(const QJsonObject& summary, const char* key) { return summary.value(key).toInt(-1); }

QStringList names(const QJsonObject& summary) {
    QStringList out;
    for (const QJsonValue& v : summary.value("names").toArray()) out << v.toString();
    return out;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.isValid());
        QDir root(m_tmp.path());
        for (const char* sub : {"work", "c", "sim", "web"}) ASSERT_TRUE(root.mkpath(sub));
        web = std::make_unique<WebApp>(dir("web"), dir("c"));
        web->start();
        sim = std::make_unique<Simulator>(dir("sim"));
        bridge = std::make_unique<Bridge>(dir("work"), dir("c"));
    }

    void TearDown() override {
        if (!bridge) return;
        if (m_bridgeStarted) {
            EXPECT_TRUE(bridge->running()) << "the bridge ended early:\n"
                                           << bridge->output().toStdString();
        }
        bridge->stop();
        const QByteArray out = bridge->output() + sim->output() + sim->log();
        EXPECT_FALSE(hasSanitizerReport(out)) << out.toStdString();
        if (HasFailure()) {
            // Kept for a look: the simulator's log, the web application's database and log.
            m_tmp.setAutoRemove(false);
            QFile log(dir("work") + "/kvbridge.output");
            if (log.open(QIODevice::WriteOnly)) log.write(bridge->output());
            std::cerr << "files of this run kept in " << m_tmp.path().toStdString() << "\n";
        }
    }

    QString dir(const char* sub) const { return m_tmp.path() + "/" + sub; }

    // The unit holds the seeded chips in table order and then one unknown chip.
    QString chipList() const {
        const QString path = dir("sim") + "/chips.txt";
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) {
            for (const Worker& w : kWorkers) f.write(QByteArray(w.chip) + "\n");
            f.write(QByteArray(kUnknownChip) + "\n");
        }
        return path;
    }

    void startUnitAndBridge(const QStringList& simArgs, const QString& webUrl = {}) {
        sim->start(simArgs);
        bridge->start(sim->device(), webUrl.isEmpty() ? web->baseUrl() : webUrl);
        m_bridgeStarted = true;
    }

    void expectFinished(std::chrono::milliseconds within) {
        ASSERT_TRUE(sim->waitFinished(within))
            << "the simulator did not end cleanly; its log:\n"
            << sim->log().right(4000).toStdString() << "\nthe bridge:\n"
            << bridge->output().right(4000).toStdString();
    }

    // Every event the unit sent was answered or given up, and the web application stored each
    // event that reached it once: chip events by their index, card events by their number.
    void expectEventsAccountedFor(const QJsonObject& summary, const QJsonArray& stored) {
        EXPECT_EQ(count(summary, "answered") + count(summary, "timed_out"),
                  count(summary, "events_sent"));
        EXPECT_EQ(count(summary, "pending_at_end"), 0);
        EXPECT_EQ(count(summary, "unexpected_answers"), 0);
        std::set<QString> indexes;
        int ok = 0;
        for (const QJsonValue& v : stored) {
            const QJsonObject e = v.toObject();
            if (e["prikaz"].toInt() == 2) {
                EXPECT_TRUE(indexes.insert(e["indexza"].toString()).second)
                    << "event " << e["indexza"].toString().toStdString() << " stored twice";
            }
            if (e["ok"].toInt() == 1) ++ok;
        }
        EXPECT_EQ(ok, count(summary, "answered"));
    }

    std::unique_ptr<WebApp> web;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Bridge> bridge;
    bool m_bridgeStarted = false;  // and expected to run to the end of the test

private:
    QTemporaryDir m_tmp;
};

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

// A second start in the same directory asks the running bridge for its window and ends; SIGTERM
// then ends the running bridge as closing its window does: status 0, no reply files of the
// request under way, no lock left.
TEST_F(EndToEnd, ASecondStartDefersToTheFirstAndSigtermEndsCleanly) {
    // It takes the request and never answers, so get.tmp stays open.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    startUnitAndBridge(
        {"--chips", chipList(), "--events", "1", "--interval", "1", "--answer-timeout", "60"},
        QString("http://127.0.0.1:%1/").arg(silent.serverPort()));
    const QDir work(dir("work"));
    ASSERT_TRUE(waitUntil([&] { return work.exists("get.tmp"); }, scaled(20s)))
        << bridge->output().toStdString();

    Bridge second(dir("work"), dir("c"));
    second.start(sim->device(), web->baseUrl());
    EXPECT_EQ(second.waitFinished(scaled(10s)), 0) << second.output().toStdString();
    EXPECT_TRUE(second.output().contains("already runs in")) << second.output().toStdString();
    EXPECT_TRUE(
        bridge->waitForOutput("a second start in this directory asked for the window", scaled(5s)));
    ASSERT_TRUE(bridge->running());

    m_bridgeStarted = false;
    EXPECT_EQ(bridge->waitFinished(scaled(5s), true), 0) << bridge->output().toStdString();
    for (const char* left : {"get.tmp", "get.txt", "kvbridge.lock"})
        EXPECT_FALSE(work.exists(left)) << left;
    QFile log(work.filePath("kvbridge.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    EXPECT_TRUE(logged.contains("signal 15 received") && logged.contains("kvbridge ended"))
        << logged.toStdString();
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

// The unit's device goes away (its converter unplugged) and another comes up behind the same
// path: the bridge says so, opens it again by itself, and the next event goes through.
TEST_F(EndToEnd, ALostPortComesBackByItself) {
    const QString link = dir("work") + "/unit";
    sim->start({"--chips", chipList(), "--events", "1", "--interval", "1", "--forever"});
    ASSERT_TRUE(QFile::link(sim->device(), link));
    bridge->start(link, web->baseUrl());
    m_bridgeStarted = true;
    ASSERT_TRUE(waitUntil([&] { return web->events().size() == 1; }, scaled(20s)));

    ASSERT_TRUE(sim->stop());
    EXPECT_TRUE(bridge->waitForOutput("ztracen, čekám na jeho návrat", scaled(5s)))
        << bridge->output().toStdString();
    Simulator again(dir("sim") + "/again");
    ASSERT_TRUE(QDir().mkpath(dir("sim") + "/again"));
    again.start({"--chips", chipList(), "--events", "1", "--interval", "1"});
    ASSERT_TRUE(QFile::remove(link) && QFile::link(again.device(), link));
    EXPECT_TRUE(again.waitFinished(scaled(30s))) << bridge->output().toStdString();
    EXPECT_EQ(web->events().size(), 2);
    EXPECT_EQ(count(again.summary(), "answered"), 1);
}

// The service mode: no window, no display; it forwards an event, logs what happened (the
// decoded event, a request that failed and why) and ends on SIGTERM at once, cleanly.
TEST_F(EndToEnd, TheServiceForwardsEventsAndEndsCleanlyOnSigterm) {
    sim->start(
        {"--chips", chipList(), "--events", "2", "--interval", "2", "--answer-timeout", "60"});
    bridge->start(sim->device(), web->baseUrl(), {"--service"});
    m_bridgeStarted = true;
    const QDir work(dir("work"));
    const auto cfg = [&] {
        QFile f(work.filePath("terminal.cfg"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray cfgAtStart = cfg();
    ASSERT_TRUE(waitUntil([&] { return web->events().size() == 1; }, scaled(20s)))
        << bridge->output().toStdString();
    web->stop();
    ASSERT_TRUE(bridge->waitForOutput("no whole document", scaled(20s)))
        << bridge->output().toStdString();

    m_bridgeStarted = false;
    EXPECT_EQ(bridge->waitFinished(scaled(1s), true), 0) << bridge->output().toStdString();
    for (const char* left : {"get.tmp", "get.txt", "kvbridge.lock"})
        EXPECT_FALSE(work.exists(left)) << left;
    EXPECT_EQ(cfg(), cfgAtStart);
    QFile log(work.filePath("kvbridge.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    for (const char* expected : {"event 1 from the unit: kod 1", "event 2 from the unit: kod 2",
                                 "spojení odmítnuto", "communication: stopped", "kvbridge ended"})
        EXPECT_TRUE(logged.contains(QString::fromUtf8(expected))) << expected << "\n"
                                                                  << logged.toStdString();
    EXPECT_FALSE(logged.contains("debug")) << "raw bytes only when asked for";
}

}  // namespace
}  // namespace kv::e2e
