// The unattended-operation plumbing: the rotated log file, one bridge per
// working directory, termination signals on the event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <future>

#include "run/BridgeLog.h"
#include "run/SingleInstance.h"
#include "run/TerminationSignals.h"
#include "support/OsSupport.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

Q_LOGGING_CATEGORY(lcTest, "kvbridge.test")

// Runs the event loop until done() holds or five seconds have passed; returns done().
bool waitFor(const std::function<bool()>& done) {
    const QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents,
                                        int(std::max<qint64>(deadline.remainingTime(), 1)));
    return done();
}

QStringList linesOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

struct RotationCase {
    const char* name;
    qint64 cap;
    int kept;
    int messages;
    qint64 alreadyThere;  // bytes of an earlier run's log
};

class LogRotation : public ::testing::TestWithParam<RotationCase> {};

// Every file stays within the cap, no more than the kept files exist, and the files read
// oldest to newest hold the latest messages without a gap.
TEST_P(LogRotation, KeepsTheCapAndTheNumberOfFiles) {
    const RotationCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath("kvbridge.log");
    if (c.alreadyThere > 0) {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(c.alreadyThere - 1, 'x') + '\n');
    }
    {
        BridgeLog log({path, c.cap, c.kept, LogOptions::Stderr::off});
        for (int i = 0; i < c.messages; ++i)
            qCInfo(lcTest, "message %05d with some words to fill the line", i);
        EXPECT_TRUE(log.writingFile());
    }

    QStringList all;
    qint64 rotatedShort = 0;  // how far the fullest-possible rotated files fall short of the cap
    for (int n = c.kept + 3; n >= 0; --n) {
        const QString file = n == 0 ? path : path + "." + QString::number(n);
        if (n > c.kept) {
            EXPECT_FALSE(QFile::exists(file)) << file.toStdString();
            continue;
        }
        ASSERT_TRUE(QFile::exists(file)) << file.toStdString();
        EXPECT_LE(QFileInfo(file).size(), c.cap) << file.toStdString();
        if (n > 0) rotatedShort = std::max(rotatedShort, c.cap - QFileInfo(file).size());
        all += linesOf(file);
    }
    all.removeIf([](const QString& l) { return l.startsWith('x'); });
    ASSERT_FALSE(all.isEmpty());
    const int first = c.messages - int(all.size());
    for (int i = 0; i < all.size(); ++i) {
        EXPECT_TRUE(all[i].contains(QStringLiteral(" info     kvbridge.test: message %1 ")
                                        .arg(first + i, 5, 10, QLatin1Char('0'))))
            << all[i].toStdString();
    }
    // A file is moved aside only when the next line would not fit.
    EXPECT_LT(rotatedShort, all.back().toUtf8().size() + 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, LogRotation,
                         ::testing::Values(RotationCase{"three_kept", 1000, 3, 500, 0},
                                           RotationCase{"none_kept", 1000, 0, 100, 0},
                                           RotationCase{"earlier_run_full", 1000, 2, 100, 990}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BridgeLog, OneLinePerMessage) {
    QTemporaryDir dir;
    BridgeLog log({dir.filePath("kvbridge.log"), 100000, 1, LogOptions::Stderr::off});
    qCWarning(lcTest, "first\r\nsecond\nthird\x1b[2J\a\x7f\tend\n");
    for (int i = 0; i < 4; ++i) qCInfo(lcTest, "entry %d", i);

    const QStringList lines = linesOf(dir.filePath("kvbridge.log"));
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(
        lines[0].endsWith(QStringLiteral("warning  kvbridge.test: first \u21B5 second "
                                         "\u21B5 third\\x1B[2J\\x07\\x7F\tend")))
        << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )")
                    .match(lines[0])
                    .hasMatch());
    EXPECT_TRUE(lines.back().endsWith(QStringLiteral("info     kvbridge.test: entry 3")))
        << lines.back().toStdString();
}

TEST(BridgeLog, AnUnwritableFileIsSaidSo) {
    QTemporaryDir dir;
    BridgeLog log({dir.filePath("missing/kvbridge.log"), 1000, 1, LogOptions::Stderr::off});
    qCInfo(lcTest, "still recorded");
    EXPECT_FALSE(log.writingFile());
}

// Qt's lock file: process, application, host, machine and boot of the holder.
void writeLock(const QString& path, qint64 pid) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::number(pid) + '\n' + QCoreApplication::applicationName().toUtf8() + '\n' +
            QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n' +
            QSysInfo::bootUniqueId() + '\n');
}

void writeLockOfDeadProcess(const QString& path) {
    QProcess p;
    p.start(test::endingProgram(), test::endingProgramArguments());
    ASSERT_TRUE(p.waitForStarted());
    const qint64 pid = p.processId();
    ASSERT_TRUE(p.waitForFinished());
    writeLock(path, pid);
}

TEST(SingleInstance, ASecondStartInTheSameDirectoryIsRefusedAndTheFirstShows) {
    QTemporaryDir dir, other;
    writeLockOfDeadProcess(QDir(dir.path()).filePath(SingleInstance::lockFileName()));

    SingleInstance first(dir.path());
    ASSERT_EQ(first.claim(), SingleInstance::Claim::owner) << first.detail().toStdString();
    EXPECT_TRUE(first.detail().startsWith("took over the lock")) << first.detail().toStdString();
    int shown = 0;
    QObject::connect(&first, &SingleInstance::showRequested, [&] { ++shown; });
    {
        // The same directory by another spelling of its path.
        SingleInstance second(dir.path() + "/./");
        EXPECT_EQ(second.claim(), SingleInstance::Claim::otherRunning);
        EXPECT_TRUE(second.detail().contains(QString::number(QCoreApplication::applicationPid())))
            << second.detail().toStdString();
    }
    if (test::underWine())
        GTEST_SKIP() << "under wine a local socket never reaches a server of its own process";
    ASSERT_TRUE(waitFor([&] { return shown > 0; }));
    EXPECT_EQ(shown, 1);

    SingleInstance elsewhere(other.path());
    EXPECT_EQ(elsewhere.claim(), SingleInstance::Claim::owner);
}

TEST(SingleInstance, ALockNobodyHoldsIsTakenOverWhateverProcessItNames) {
    QTemporaryDir reused;
    // A killed bridge's process number given to a live process of the same name (as the next
    // start often gets it under wine): the lock is still nobody's.
    writeLock(QDir(reused.path()).filePath(SingleInstance::lockFileName()),
              QCoreApplication::applicationPid());
    SingleInstance afterReuse(reused.path());
    EXPECT_EQ(afterReuse.claim(), SingleInstance::Claim::owner)
        << afterReuse.detail().toStdString();
}

// The socket answers the status question, and a client that sends a line longer than a
// question, keeps quiet, or crowds in beyond the handful the owner holds is closed: the owner
// keeps neither its bytes nor its connection, the newest question is still answered, and what
// was closed is logged once and then counted.
TEST(SingleInstance, TheSocketAnswersTheStatusAndClosesOnAbuse) {
    QTemporaryDir dir;
    BridgeLog log({dir.filePath("kvbridge.log"), 1000000, 1, LogOptions::Stderr::off});
    SingleInstance owner(dir.path());
    ASSERT_EQ(owner.claim(), SingleInstance::Claim::owner) << owner.detail().toStdString();
    owner.setStatusAnswer([] { return QByteArray(R"({"state":"running"})"); });
    owner.setComplaintInterval(1000);
    const QString name = SingleInstance::serverNames(dir.path()).constFirst();
    const auto connected = [&](QLocalSocket& s) {
        s.connectToServer(name);
        return s.waitForConnected(1000);
    };
    // Asked from another thread, as kvbridge --status asks from another process.
    const auto ask = [&] {
        auto query = std::async(std::launch::async,
                                [&] { return SingleInstance::queryStatus(dir.path(), 2000); });
        waitFor([&] { return query.wait_for(0s) == std::future_status::ready; });
        return query.get().answer;
    };
    EXPECT_EQ(ask(), R"({"state":"running"})");

    QLocalSocket flooding;
    ASSERT_TRUE(connected(flooding));
    ASSERT_TRUE(waitFor([&] { return owner.openConnections() >= 1; }));
    flooding.write(QByteArray(SingleInstance::kMaxLineBytes * 64, 'x'));
    ASSERT_TRUE(waitFor([&] { return flooding.state() == QLocalSocket::UnconnectedState; }));
    ASSERT_TRUE(waitFor([&] { return owner.openConnections() == 0; }));

    std::vector<std::unique_ptr<QLocalSocket>> crowd;
    for (int i = 0; i < SingleInstance::kMaxConnections + 20; ++i) {
        crowd.push_back(std::make_unique<QLocalSocket>());
        ASSERT_TRUE(connected(*crowd.back()));
    }
    ASSERT_TRUE(waitFor([&] {
        return std::count_if(crowd.begin(), crowd.end(), [](const auto& s) {
                   return s->state() == QLocalSocket::UnconnectedState;
               }) == 20;
    }));
    EXPECT_EQ(owner.openConnections(), SingleInstance::kMaxConnections);
    EXPECT_EQ(crowd.front()->state(), QLocalSocket::UnconnectedState) << "the oldest go first";
    // Held open and silent, the crowd neither blocks a question nor stays.
    EXPECT_EQ(ask(), R"({"state":"running"})");
    ASSERT_TRUE(waitFor([&] { return owner.openConnections() == 0; }));

    // 29 closed: the long line, 21 crowded out, 7 idle; told in a few lines that count them all.
    const auto told = [&] {
        const QStringList lines = linesOf(dir.filePath("kvbridge.log")).filter("local socket:");
        int count = 0;
        for (const QString& line : lines) {
            const auto more = QRegularExpression(R"((\d+) more connections closed)").match(line);
            count += more.hasMatch() ? more.captured(1).toInt() : 1;
        }
        return std::pair(lines.size(), count);
    };
    ASSERT_TRUE(waitFor([&] { return told().second == 29; })) << told().second;
    EXPECT_LE(told().first, 5);
    EXPECT_TRUE(linesOf(dir.filePath("kvbridge.log"))
                    .filter("local socket:")[0]
                    .contains("a line too long"));
}

// --status says "none" only when nobody holds the directory's lock: a bridge that holds it and
// keeps quiet, or does not listen at all, is one that does not answer.
struct QueryCase {
    const char* name;
    bool lockHeld;
    bool silentServer;
    SingleInstance::StatusQuery::Outcome outcome;
};

class StatusQueries : public ::testing::TestWithParam<QueryCase> {};

TEST_P(StatusQueries, TellNoneOnlyWithoutAHeldLock) {
    const QueryCase& c = GetParam();
    QTemporaryDir dir;
    QLockFile lock(QDir(dir.path()).filePath(SingleInstance::lockFileName()));
    if (c.lockHeld) {
        ASSERT_TRUE(lock.tryLock(0));
    }
    QLocalServer silent;
    if (c.silentServer) {
        ASSERT_TRUE(silent.listen(SingleInstance::serverNames(dir.path())[0]));
    }
    QDeadlineTimer took(3000);
    const SingleInstance::StatusQuery query = SingleInstance::queryStatus(dir.path(), 500);
    EXPECT_EQ(query.outcome, c.outcome);
    EXPECT_FALSE(took.hasExpired()) << "the question keeps to its time";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StatusQueries,
    ::testing::Values(
        QueryCase{"nothing", false, false, SingleInstance::StatusQuery::none},
        QueryCase{"lock_only", true, false, SingleInstance::StatusQuery::notAnswering},
        QueryCase{"lock_and_silent_socket", true, true, SingleInstance::StatusQuery::notAnswering},
        QueryCase{"silent_socket_no_lock", false, true, SingleInstance::StatusQuery::none}),
    [](const auto& info) { return std::string(info.param.name); });

class Termination : public ::testing::TestWithParam<test::TerminationRequest> {};

TEST_P(Termination, ARequestToEndArrivesOnTheEventLoop) {
    TerminationSignals termination;
    QList<int> requested;
    QObject::connect(&termination, &TerminationSignals::terminationRequested,
                     [&](int signalNumber) { requested << signalNumber; });
    ASSERT_TRUE(GetParam().send());
    ASSERT_TRUE(waitFor([&] { return !requested.isEmpty(); }));
    EXPECT_EQ(requested, QList<int>{GetParam().expectedSignal});
}

INSTANTIATE_TEST_SUITE_P(Requests, Termination, ::testing::ValuesIn(test::terminationRequests()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv
