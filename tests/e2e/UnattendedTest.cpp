// The bridge left alone, as real programs: one bridge per directory, a clean end on SIGTERM, a
// lost port that comes back, and the service mode without a window.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QLocalSocket>

#include "e2e/EndToEndFixture.h"
#include "run/SingleInstance.h"
#include "support/SmallFilesystem.h"

namespace kv::e2e {
namespace {

// systemd's end of NOTIFY_SOCKET: a datagram socket that collects what the service tells.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path) : m_path(path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = path.toLocal8Bit();
        std::memcpy(address.sun_path, name.constData(),
                    std::min<size_t>(name.size(), sizeof address.sun_path - 1));
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }
    bool bound() const { return m_bound; }
    const QString& path() const { return m_path; }
    // Every message so far, a line each ("READY=1", "STATUS=...").
    const QStringList& messages() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0)
            for (const QByteArray& line : QByteArray(buffer, n).split('\n'))
                if (!line.isEmpty()) m_messages << QString::fromUtf8(line);
        return m_messages;
    }
    bool waitFor(const QString& start, std::chrono::milliseconds timeout) {
        return waitUntil(
            [&] {
                return std::any_of(messages().begin(), messages().end(),
                                   [&](const QString& m) { return m.startsWith(start); });
            },
            timeout);
    }

private:
    QString m_path;
    int m_fd = -1;
    bool m_bound = false;
    QStringList m_messages;
};

// Command lines run without a display, as a script or a unit file would: a mistake prints why
// and the usage and exits 2, never reaching the window system; --status keeps its own codes.
struct CommandLineCase {
    const char* name;
    QStringList args;
    int exit;
    const char* said;
};

class CommandLines : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLines, EndWithTheirExitStatusAndNeverCrash) {
    const CommandLineCase& c = GetParam();
    QTemporaryDir work;
    const StatusReply run = runBridgeCommand(work.path(), c.args);
    EXPECT_EQ(run.exit, c.exit) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(c.said)) << run.out.toStdString();
    if (c.exit == 2) {
        EXPECT_TRUE(run.out.contains("Použití:")) << run.out.toStdString();
    }
    EXPECT_FALSE(run.out.contains("qt.qpa")) << run.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandLines,
    ::testing::Values(
        CommandLineCase{"unknown_option", {"--bogus"}, 2, "neznámá volba --bogus"},
        CommandLineCase{"json_without_status", {"--json"}, 2, "--json patří jen ke --status"},
        CommandLineCase{"minimized_service", {"--minimized", "--service"}, 2, "se vylučují"},
        CommandLineCase{"status_service", {"--service", "--status"}, 2, "nelze spojit"},
        CommandLineCase{"dir_without_value", {"--dir"}, 2, "volbě --dir chybí hodnota"},
        CommandLineCase{"stray_argument", {"terminal.cfg"}, 2, "nečekaný argument"},
        CommandLineCase{"missing_dir", {"--dir", "/nonexistent/kv"}, 1, "neexistuje"},
        CommandLineCase{
            "status_missing_dir", {"--status", "--dir", "/nonexistent/kv"}, 3, "neexistuje"},
        CommandLineCase{"status_json_missing_dir",
                        {"--status", "--json", "--dir", "/nonexistent/kv"},
                        3,
                        R"({"state":"none"})"},
        CommandLineCase{"status_none", {"--status"}, 3, "neběží žádný kvbridge"},
        CommandLineCase{"window_without_display", {"--minimized"}, 1, "DISPLAY"},
        CommandLineCase{"help", {"--help"}, 0, "--service"},
        CommandLineCase{"version", {"--version"}, 0, "KV-CU5"}),
    [](const auto& info) { return std::string(info.param.name); });

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

// The unit's line is a pseudo-terminal behind a name that its maker keeps (a network serial
// converter's link, made anew at each reconnection): when the name comes back, whatever it leads
// to is the port's return, and communication resumes at once with the start frame.
TEST_F(EndToEnd, APortReCreatedUnderItsNameIsResumedWithTheStartFrame) {
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
    again.start({"--chips", chipList(), "--events", "0", "--forever"});
    ASSERT_TRUE(QFile::remove(link) && QFile::link(again.device(), link));
    EXPECT_TRUE(again.waitForLog("pc>unit FC11", 1, scaled(4s))) << again.log().toStdString();
    EXPECT_TRUE(bridge->waitForOutput("je zpět", scaled(2s))) << bridge->output().toStdString();
    EXPECT_FALSE(bridge->output().contains("jiné zařízení")) << bridge->output().toStdString();
    again.stop();
}

// An automatic start whose port is not there yet (a USB converter that comes up after the PC)
// with a trigger file waiting: no box stands in the way, and the port's appearance starts
// communication within the retry interval.
TEST_F(EndToEnd, AnAutomaticStartWaitsForItsPortWithoutABox) {
    const QString link = dir("work") + "/unit";
    QFile trigger(dir("c") + "/zamestnanci");
    ASSERT_TRUE(trigger.open(QIODevice::WriteOnly));
    trigger.close();
    bridge->start(link, web->baseUrl());
    m_bridgeStarted = true;
    ASSERT_TRUE(bridge->waitForOutput("není k dispozici, čekám na něj", scaled(10s)))
        << bridge->output().toStdString();
    sim->start({"--chips", chipList(), "--events", "0", "--forever"});
    ASSERT_TRUE(QFile::link(sim->device(), link));
    EXPECT_TRUE(sim->waitForLog("pc>unit FC11", 1, scaled(4s))) << sim->log().toStdString();
    const StatusReply status = askStatus(dir("work"));
    EXPECT_EQ(status.exit, 0) << status.out.toStdString();
    EXPECT_FALSE(bridge->output().contains("Abort/Retry")) << bridge->output().toStdString();
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
    // What the window would show is logged as shown, under neither a field's name nor a label
    // that does not fit it.
    for (const char* expected :
         {"event 1 from the unit: kod 1", "event 2 from the unit: kod 2", "spojení odmítnuto",
          "communication: stopped", "kvbridge ended", "V okně: "})
        EXPECT_TRUE(logged.contains(QString::fromUtf8(expected))) << expected << "\n"
                                                                  << logged.toStdString();
    EXPECT_FALSE(logged.contains("debug")) << "raw bytes only when asked for";
    EXPECT_FALSE(logged.contains("stavprac"));
    EXPECT_FALSE(logged.contains(QString::fromUtf8("Pracovník: ")));
}

// What --status tells of a service bridge as it runs, loses its server and its port, and ends;
// and what systemd hears meanwhile: READY=1 only once the unit is served, STATUS= naming the
// directory, STOPPING=1 at the end.
TEST_F(EndToEnd, StatusAndSystemdFollowTheServiceBridge) {
    NotifySocket notify(dir("sim") + "/notify");
    ASSERT_TRUE(notify.bound());
    bridge->env.insert("NOTIFY_SOCKET", notify.path());
    sim->start({"--chips", chipList(), "--events", "2", "--interval", "2", "--answer-timeout", "60",
                "--forever"});
    bridge->start(sim->device(), web->baseUrl(), {"--service"});
    m_bridgeStarted = true;
    const QString work = dir("work");
    ASSERT_TRUE(waitUntil([&] { return web->events().size() == 1; }, scaled(20s)))
        << bridge->output().toStdString();

    // Counted once the unit has its answer, a moment after the web application has the event.
    StatusReply status;
    ASSERT_TRUE(waitUntil(
        [&] {
            status = askStatus(work);
            return status.out.contains("předáno 1, nepředáno 0");
        },
        scaled(5s)))
        << status.out.toStdString();
    EXPECT_EQ(status.exit, 0) << status.out.toStdString();
    for (const char* expected : {"Stav: Komunikace spuštěna", "Port: COM1", "(před 0 min)"})
        EXPECT_TRUE(status.out.contains(expected)) << expected << "\n" << status.out.toStdString();
    EXPECT_TRUE(status.out.contains(web->baseUrl().toUtf8())) << status.out.toStdString();
    status = askStatus(work, true);
    const QJsonObject json = QJsonDocument::fromJson(status.out).object();
    EXPECT_EQ(status.exit, 0);
    EXPECT_EQ(json["state"].toString(), "running") << status.out.toStdString();
    EXPECT_EQ(json["forwarded"].toInt(), 1);

    ASSERT_TRUE(notify.waitFor("READY=1", scaled(5s)));
    const QStringList told = notify.messages();
    const qsizetype ready = told.indexOf("READY=1");
    ASSERT_GT(ready, 0) << told.join('\n').toStdString();
    EXPECT_TRUE(told[ready - 1].startsWith("STATUS=" + QDir(work).canonicalPath() +
                                           ": Komunikace spuštěna"))
        << told.join('\n').toStdString();

    web->stop();
    ASSERT_TRUE(waitUntil([&] { return askStatus(work).exit == 1; }, scaled(20s)));
    EXPECT_TRUE(askStatus(work).out.contains("Stav: Porucha\nPříčina: Server nedostupný"))
        << askStatus(work).out.toStdString();
    ASSERT_TRUE(sim->stop());
    ASSERT_TRUE(
        waitUntil([&] { return askStatus(work).out.contains("Stav: Port ztracen"); }, scaled(10s)));
    EXPECT_EQ(askStatus(work).exit, 1);
    ASSERT_TRUE(
        notify.waitFor("STATUS=" + QDir(work).canonicalPath() + ": Port ztracen", scaled(5s)));

    m_bridgeStarted = false;
    EXPECT_EQ(bridge->waitFinished(scaled(5s), true), 0) << bridge->output().toStdString();
    EXPECT_TRUE(notify.waitFor("STOPPING=1", scaled(1s)));
    EXPECT_FALSE(QDir(work).exists("kvbridge.sock"));
    status = askStatus(work);
    EXPECT_EQ(status.exit, 3) << status.out.toStdString();
    EXPECT_EQ(askStatus(work, true).out.trimmed(), R"({"state":"none"})");
}

// --status tells a running bridge from none whatever keeps it from answering: stopped for a
// moment, its socket crowded by idle connections, its directory read-only, or a socket the
// asking user may not open.
TEST_F(EndToEnd, StatusFindsABridgeThatCannotAnswer) {
    const QString work = dir("work");
    test::SmallFilesystem fs(work.toStdString(), 256 * 1024);
    if (fs.usable()) {
        QFile cfg(work + "/terminal.cfg");
        ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
        cfg.write(
            ("1\r\n" + web->baseUrl() + "\r\nlocalhost\r\n1\r\n0\r\n0\r\n0\r\n0\r\n").toLatin1());
        cfg.close();
        fs.setReadOnly(true);
    }
    sim->start({"--chips", chipList(), "--events", "0", "--forever"});
    bridge->env.insert("KVBRIDGE_COM1", sim->device());
    if (fs.usable())
        bridge->startAsIs({"--service"});
    else
        bridge->start(sim->device(), web->baseUrl(), {"--service"});
    m_bridgeStarted = true;
    ASSERT_TRUE(waitUntil([&] { return askStatus(work).out.contains("Stav: "); }, scaled(10s)))
        << askStatus(work).out.toStdString() << bridge->output().toStdString();

    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 10; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(SingleInstance::serverNames(work).constFirst());
        if (!idle.back()->waitForConnected(1000))
            idle.back()->connectToServer(SingleInstance::serverNames(work).constLast());
    }
    StatusReply status = askStatus(work);
    EXPECT_TRUE(status.out.contains("Stav: ")) << status.out.toStdString();

    ASSERT_EQ(::kill(pid_t(bridge->pid()), SIGSTOP), 0);
    status = askStatus(work, true);
    ::kill(pid_t(bridge->pid()), SIGCONT);
    EXPECT_EQ(status.exit, 1) << status.out.toStdString();
    EXPECT_EQ(status.out.trimmed(), R"({"state":"not answering"})");

    if (::geteuid() != 0 || !QFile::exists("/usr/bin/setpriv")) return;
    for (const QString& d : {dir(""), work})
        QFile::setPermissions(d, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                     QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                     QFileDevice::ExeOther);
    QProcess other;
    other.start("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                     KVE2E_KVBRIDGE, "--status", "--dir", work});
    ASSERT_TRUE(other.waitForFinished(int(scaled(10s).count())));
    const QByteArray said = other.readAll();
    EXPECT_EQ(other.exitCode(), 3) << said.toStdString();
    EXPECT_TRUE(said.contains("přístup odepřen")) << said.toStdString();
}

// A window bridge that does not start by itself says it is stopped (2); SIGHUP ends it as
// closing the window does.
TEST_F(EndToEnd, AStoppedWindowBridgeSaysSoAndEndsOnSighup) {
    bridge->autoStart = false;
    bridge->start(dir("sim") + "/no-such-device", web->baseUrl());
    ASSERT_TRUE(waitUntil([&] { return askStatus(dir("work")).exit == 2; }, scaled(10s)))
        << askStatus(dir("work")).out.toStdString() << bridge->output().toStdString();
    EXPECT_TRUE(askStatus(dir("work")).out.contains("Stav: Komunikace zastavena"));
    ASSERT_EQ(::kill(pid_t(bridge->pid()), SIGHUP), 0);
    EXPECT_EQ(bridge->waitFinished(scaled(5s)), 0) << bridge->output().toStdString();
    EXPECT_FALSE(QDir(dir("work")).exists("kvbridge.lock"));
    EXPECT_TRUE(bridge->output().contains("signal 1 received")) << bridge->output().toStdString();
}

// SIGTERM during the delayed start ends the service at once, without opening the port and
// without telling systemd it is ready: it never was.
TEST_F(EndToEnd, SigtermEndsTheDelayedStartAtOnce) {
    NotifySocket notify(dir("sim") + "/notify");
    ASSERT_TRUE(notify.bound());
    bridge->env.insert("NOTIFY_SOCKET", notify.path());
    bridge->delayedStart = true;
    sim->start({"--chips", chipList(), "--events", "1", "--forever"});
    bridge->start(sim->device(), web->baseUrl(), {"--service"});
    ASSERT_TRUE(notify.waitFor("STATUS=" + QDir(dir("work")).canonicalPath() + ": Opožděný start",
                               scaled(10s)))
        << notify.messages().join('\n').toStdString() << bridge->output().toStdString();
    EXPECT_EQ(askStatus(dir("work")).exit, 2);
    EXPECT_EQ(bridge->waitFinished(scaled(5s), true), 0) << bridge->output().toStdString();
    EXPECT_FALSE(notify.messages().contains("READY=1"))
        << notify.messages().join('\n').toStdString();
    EXPECT_FALSE(bridge->output().contains("communication: running"))
        << bridge->output().toStdString();
}

// A first start in an empty directory takes its port (a device path) and the web
// application's address from the environment and serves the unit; a terminal.cfg that cannot
// be read ends the service with status 1 and the cause.
TEST_F(EndToEnd, AFirstServiceStartTakesItsSettingsFromTheEnvironment) {
    sim->start({"--chips", chipList(), "--events", "1", "--interval", "1", "--forever"});
    const QString byId = dir("sim") + "/usb-unit-if00-port0";
    ASSERT_TRUE(QFile::link(sim->device(), byId));
    bridge->env.insert("KVBRIDGE_PORT", byId);
    bridge->env.insert("KVBRIDGE_URL", web->baseUrl());
    bridge->startAsIs({"--service"});
    m_bridgeStarted = true;
    ASSERT_TRUE(waitUntil([&] { return web->events().size() == 1; }, scaled(20s)))
        << bridge->output().toStdString();
    const QStringList cfg = readLines(dir("work") + "/terminal.cfg");
    ASSERT_GE(cfg.size(), 2);
    EXPECT_EQ(cfg[0].trimmed(), "1");
    EXPECT_EQ(cfg[1].trimmed(), web->baseUrl());
    EXPECT_TRUE(readLines(dir("work") + "/porty.cfg").contains("COM1=" + byId + "\r"));

    const QString broken = dir("work") + "/broken";
    ASSERT_TRUE(QDir().mkpath(broken + "/terminal.cfg"));
    Bridge unreadable(broken, dir("c"));
    unreadable.startAsIs({"--service"});
    EXPECT_EQ(unreadable.waitFinished(scaled(10s)), 1) << unreadable.output().toStdString();
    EXPECT_TRUE(unreadable.output().contains("terminal.cfg")) << unreadable.output().toStdString();
}

// A unit that stops reading in the middle of a long table download holds nothing up: the line
// is paced by its owner and never waited for, so --status answers as fast as on an idle bridge
// throughout (the system's buffer of a pseudo-terminal fills after about 1000 frames).
TEST_F(EndToEnd, AUnitThatStopsReadingDuringATableDownloadHoldsNothingUp) {
    web->addEmployees(1200, 100, 0xB00000, "W");
    sim->start({"--chips", chipList(), "--events", "0", "--forever"});
    bridge->start(sim->device(), web->baseUrl(), {"--service"});
    m_bridgeStarted = true;
    const QString work = dir("work");
    ASSERT_TRUE(waitUntil([&] { return askStatus(work).out.contains("Stav: "); }, scaled(10s)))
        << bridge->output().toStdString();
    const auto timedStatus = [&] {
        const auto start = std::chrono::steady_clock::now();
        const StatusReply reply = askStatus(work);
        EXPECT_EQ(reply.exit, 0) << reply.out.toStdString();
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    };
    std::chrono::milliseconds idle{0};
    for (int i = 0; i < 3; ++i) idle = std::max(idle, timedStatus());

    // The unit stops reading while its request for the tables is under way, before the first
    // frame: the web application holds the reply until then.
    web->get("admin.php?action=trigger&file=zamestnanci");
    ASSERT_EQ(::kill(pid_t(web->pid()), SIGSTOP), 0);
    const bool asked =
        waitUntil([&] { return bridge->output().contains("request tables"); }, scaled(30s));
    ASSERT_EQ(::kill(pid_t(sim->pid()), SIGSTOP), 0);
    ::kill(pid_t(web->pid()), SIGCONT);
    ASSERT_TRUE(asked) << bridge->output().toStdString();
    ASSERT_TRUE(waitUntil([&] { return QDir(work).exists("tables.unfinished"); }, scaled(30s)))
        << bridge->output().toStdString();
    std::chrono::milliseconds slowest{0};
    for (const auto until = std::chrono::steady_clock::now() + scaled(12s);
         std::chrono::steady_clock::now() < until;)
        slowest = std::max(slowest, timedStatus());
    ::kill(pid_t(sim->pid()), SIGCONT);
    EXPECT_LT(slowest, idle + scaled(1s)) << "idle: " << idle.count() << " ms";
    EXPECT_FALSE(bridge->output().contains("tables sent to the unit"));
}

// SIGTERM while a long table download is paced over a slow line ends the bridge within
// seconds; the download is broken off and tables.unfinished stays, so the next start announces
// the tables again.
TEST_F(EndToEnd, SigtermBreaksOffAPacedTableDownload) {
    web->addEmployees(80, 100, 0xA00000, "Worker");
    bridge->slowTransfer = true;
    sim->start({"--chips", chipList(), "--events", "0", "--forever"});
    bridge->start(sim->device(), web->baseUrl(), {"--service"});
    web->get("admin.php?action=trigger&file=zamestnanci");
    const QDir work(dir("work"));
    ASSERT_TRUE(waitUntil([&] { return work.exists("tables.unfinished"); }, scaled(30s)))
        << bridge->output().toStdString();
    EXPECT_EQ(bridge->waitFinished(scaled(5s), true), 0) << bridge->output().toStdString();
    EXPECT_TRUE(bridge->output().contains("table download cut short"))
        << bridge->output().toStdString();
    EXPECT_FALSE(bridge->output().contains("tables sent to the unit"));
    for (const char* left : {"get.tmp", "get.txt", "kvbridge.lock"})
        EXPECT_FALSE(work.exists(left)) << left;
    EXPECT_TRUE(work.exists("tables.unfinished"));
}

}  // namespace
}  // namespace kv::e2e
