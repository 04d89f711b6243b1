#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include "link/TQCCom32.h"
#include "support/Pty.h"

// The serial component on a real kernel line: the slave side of a pseudo-terminal.
namespace kv {
namespace {

using namespace std::chrono_literals;
using test::ComPortMapping;
using test::PtyPair;

std::string allByteValues() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(char(b));
    return bytes;
}

std::string bytesOf(std::initializer_list<int> values) {
    std::string bytes;
    for (int v : values) bytes.push_back(char(v));
    return bytes;
}

// The port under test on the slave side of a pseudo-terminal, the test as the unit on the master.
class ComOverPty : public ::testing::Test {
protected:
    // The event loop turns until the port tells of input or 100 ms pass.
    void awaitInput() {
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        QObject::connect(&com, &TQCCom32::inputArrived, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // Until n bytes are read or 3 s pass.
    std::string readAtLeast(std::size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        std::string got = com.ReadText();
        while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
            awaitInput();
            got += com.ReadText();
        }
        return got;
    }
    // Until at least n bytes are waiting or 3 s pass.
    int waitForCount(int n) {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (com.InCount() < n && std::chrono::steady_clock::now() < deadline) awaitInput();
        return com.InCount();
    }
    // Until the port tells it lost its device (found as the tick looks) or 3 s pass.
    bool waitForLoss() {
        bool lost = false;
        QObject context;
        QObject::connect(&com, &TQCCom32::deviceLost, &context, [&lost] { lost = true; });
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (com.InCount() >= 0 && !lost && std::chrono::steady_clock::now() < deadline)
            awaitInput();
        return lost;
    }

    PtyPair unit;
    ComPortMapping com1{1, unit.slaveName()};
    int devicesMade = 0;
    TQCCom32 com{[this] {
        ++devicesMade;
        return makeQtSerialDevice();
    }};
};

TEST_F(ComOverPty, AllByteValuesPassBothWaysUnchanged) {
    ASSERT_TRUE(com.Open());
    const std::string all = allByteValues();

    EXPECT_TRUE(com.WriteText(all));
    EXPECT_EQ(unit.readMaster(all.size()), all);

    unit.writeMaster(all);
    EXPECT_EQ(readAtLeast(all.size()), all);
}

TEST_F(ComOverPty, InCountOfAClosedPortIsZeroAndDoesNotOpenIt) {
    EXPECT_EQ(com.InCount(), 0);
    EXPECT_FALSE(com.Opened());
    EXPECT_EQ(devicesMade, 0);

    ASSERT_TRUE(com.Open());
    unit.writeMaster("abc");
    EXPECT_EQ(waitForCount(3), 3);
}

TEST_F(ComOverPty, ReadAndWriteOfAClosedPortNeverOpenIt) {
    EXPECT_EQ(com.ReadText(), "");
    EXPECT_EQ(com.WriteText("Q").cause, PortCause::closed);
    EXPECT_FALSE(com.Opened());
    EXPECT_EQ(devicesMade, 0);
    EXPECT_EQ(unit.drainMaster(), "");
}

TEST_F(ComOverPty, ReadTextReturnsExactlyTheWaitingBytes) {
    ASSERT_TRUE(com.Open());
    const std::string five = bytesOf({0x00, 0x41, 0x80, 0xFE, 0xFF});
    unit.writeMaster(five);
    ASSERT_EQ(waitForCount(5), 5);
    EXPECT_EQ(com.ReadText(), five);
    EXPECT_EQ(com.InCount(), 0);
}

TEST_F(ComOverPty, AnEmptyWriteIsDone) {
    ASSERT_TRUE(com.Open());
    EXPECT_TRUE(com.WriteText("Q"));
    EXPECT_EQ(unit.readMaster(1), "Q");
    EXPECT_TRUE(com.WriteText(""));
    EXPECT_EQ(unit.drainMaster(), "");
}

TEST_F(ComOverPty, AFloodIsHeldBackAtTheInputCap) {
    ASSERT_TRUE(com.Open());
    ASSERT_EQ(fcntl(unit.masterFd(), F_SETFL, fcntl(unit.masterFd(), F_GETFL) | O_NONBLOCK), 0);
    const std::string flood(4096, 'Z');
    std::size_t written = 0;
    int most = 0;
    // Input comes in only on the port's notice: the loop turns between the unit's writes, until
    // four caps have gone or the line takes no more while the port holds its cap.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (written < 4u * kMaxUnreadInput && std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = ::write(unit.masterFd(), flood.data(), flood.size());
        if (n > 0) written += std::size_t(n);
        if (n <= 0 && most == kMaxUnreadInput) break;
        if (n > 0)
            QCoreApplication::processEvents();
        else
            awaitInput();
        most = std::max(most, com.InCount());
    }
    awaitInput();
    most = std::max(most, com.InCount());
    EXPECT_EQ(most, kMaxUnreadInput);
}

TEST_F(ComOverPty, PurgeDiscardsWaitingInput) {
    ASSERT_TRUE(com.Open());
    unit.writeMaster("0123456789");
    ASSERT_EQ(waitForCount(10), 10);
    com.Purge();
    EXPECT_EQ(com.InCount(), 0);
    unit.writeMaster("x");
    EXPECT_EQ(readAtLeast(1), "x");
}

TEST_F(ComOverPty, PurgeKeepsWhatWasWrittenJustBefore) {
    // The answer to an event goes out right before the purge that ends the exchange.  On a real
    // line those bytes are still in the driver's transmit queue then; the pseudo-terminal in
    // packet mode shows a flush of that queue the same way: the bytes never reach the unit.
    int on = 1;
    ASSERT_EQ(ioctl(unit.masterFd(), TIOCPKT, &on), 0);
    ASSERT_TRUE(com.Open());
    const std::string answer = std::string("\xF0\xF0\xA5\x06") + std::string(15, 'N');
    ASSERT_TRUE(com.WriteText(answer));
    com.Purge();
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (got.size() < answer.size() && std::chrono::steady_clock::now() < deadline) {
        pollfd p{unit.masterFd(), POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[256];
        const ssize_t n = read(unit.masterFd(), buf, sizeof buf);
        if (n > 1 && buf[0] == TIOCPKT_DATA) got.append(buf + 1, std::size_t(n - 1));
    }
    EXPECT_EQ(got, answer);
}

// A close hands the system all it takes without waiting; what a unit that stopped reading left
// no room for is discarded, and the log names how many bytes, so nothing is lost without a word.
TEST_F(ComOverPty, ACloseHandsOverWhatTheSystemTakesAndNamesWhatItDiscards) {
    static QStringList* logged = nullptr;
    for (const std::size_t size : {std::size_t(19), std::size_t(1) << 20}) {
        SCOPED_TRACE(size);
        QStringList lines;
        logged = &lines;
        const QtMessageHandler before =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
                logged->append(text);
            });
        ASSERT_TRUE(com.Open());
        ASSERT_TRUE(com.WriteText(std::string(size, 'N')));
        com.Close();
        qInstallMessageHandler(before);
        const std::size_t arrived = unit.drainMaster().size();
        const QStringList warned = lines.filter(QStringLiteral("the system did not take"));
        std::size_t discarded = 0;
        if (!warned.isEmpty()) {
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("with (\\d+) bytes")).match(warned.first());
            ASSERT_TRUE(m.hasMatch()) << warned.first().toStdString();
            discarded = m.captured(1).toULongLong();
        }
        EXPECT_EQ(warned.size(), size > 19 ? 1 : 0) << lines.join("\n").toStdString();
        EXPECT_EQ(arrived + discarded, size);
    }
}

// A system buffer that is full (a unit that stopped reading) is no lost port: a write that
// finds no room stays queued and goes out once the unit reads again.
TEST_F(ComOverPty, AFullLineIsNoLostPortAndWhatWaitsGoesLater) {
    bool lost = false;
    QObject heard;
    QObject::connect(&com, &TQCCom32::deviceLost, &heard, [&lost] { lost = true; });
    ASSERT_TRUE(com.Open());
    std::size_t written = 0;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    // A byte at a time, so that one write finds the system's buffer exactly full.
    while (com.BytesToWrite() == 0 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(com.WriteText("F")) << "after " << written << " bytes";
        ++written;
        QCoreApplication::processEvents();
    }
    std::size_t arrived = 0;
    while (arrived < written && std::chrono::steady_clock::now() < deadline) {
        arrived += unit.drainMaster().size();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    EXPECT_FALSE(lost);
    EXPECT_EQ(arrived, written);
}

// One device serves one bridge, whichever name the second is given and even for root, which
// passes the kernel's exclusive open; the second is told who has the device: its program and
// version, and its directory unless the holder could not tell it (removed under it).
TEST_F(ComOverPty, ADeviceHeldElsewhereIsRefusedUnderEveryNameAndItsHolderNamed) {
    QTemporaryDir dir;
    const std::string link = dir.filePath("by-id-link").toStdString();
    std::filesystem::create_symlink(unit.slaveName(), link);
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1.0"));
    const std::string program = QCoreApplication::applicationName().toStdString() + " 1.1.0";
    const std::string process = " (proces " + std::to_string(::getpid()) + ")";
    for (const bool dirGone : {false, true}) {
        std::optional<test::CurrentDirectory> inGone;
        if (dirGone) {
            const std::filesystem::path gone = dir.filePath("gone").toStdString();
            std::filesystem::create_directory(gone);
            inGone.emplace(gone);
            std::filesystem::remove(gone);
        }
        ASSERT_TRUE(com.Open());  // port 1, by the device's own name
        const std::string holder =
            program + (dirGone ? "" : " v " + std::filesystem::current_path().string()) + process;
        for (const std::string& name : {unit.slaveName(), link}) {
            SCOPED_TRACE(name);
            ComPortMapping com2(2, name);
            TQCCom32 second([] { return makeQtSerialDevice(); });
            second.setPort(2);
            const PortResult opened = second.Open();
            EXPECT_EQ(opened.cause, PortCause::busy);
            EXPECT_EQ(portErrorText(2, name, opened),
                      QString::fromStdString("COM2 (" + name +
                                             "): zařízení používá jiný program: " + holder));
        }
        com.Close();
    }
    QCoreApplication::setApplicationVersion({});
    // Released with the close: the next one gets it.
    TQCCom32 next([] { return makeQtSerialDevice(); });
    ComPortMapping com2(2, link);
    next.setPort(2);
    EXPECT_TRUE(next.Open());
}

// A lost pseudo-terminal behind a link is known by the link: whatever it leads to when it is back
// is the port's return (its maker makes a new one for each connection).  Something that is no
// serial port is named as such, also for a port that was never open.
TEST_F(ComOverPty, ALostPseudoTerminalComesBackByItsLink) {
    QTemporaryDir dir;
    const std::string link = dir.filePath("unit").toStdString();
    std::optional<PtyPair> first(std::in_place);
    PtyPair other;  // made while the first lives, so it has another number
    std::filesystem::create_symlink(first->slaveName(), link);
    ComPortMapping toLink(1, link);
    ASSERT_TRUE(com.Open());

    first.reset();  // the unit's line hangs up
    ASSERT_TRUE(waitForLoss());

    std::filesystem::remove(link);
    EXPECT_EQ(com.reopenSameDevice().cause, PortCause::missing);
    EXPECT_EQ(com.WriteText("x").cause, PortCause::lost) << "a write does not reopen it";

    std::filesystem::create_symlink("/dev/null", link);
    EXPECT_EQ(com.reopenSameDevice().cause, PortCause::notSerial);

    std::filesystem::remove(link);
    std::filesystem::create_symlink(other.slaveName(), link);
    EXPECT_TRUE(com.reopenSameDevice());
    EXPECT_TRUE(com.WriteText("Q"));
    EXPECT_EQ(other.readMaster(1), "Q");

    // A port never opened: the same finding, not a wait for an original there never was.
    TQCCom32 fresh([] { return makeQtSerialDevice(); });
    ComPortMapping toNull(1, "/dev/null");
    EXPECT_EQ(fresh.reopenSameDevice().cause, PortCause::notSerial);
}

// A pseudo-terminal opened by its own name is that terminal alone: once it has ended, the next one
// made under its number belongs to another program, and the port is left alone.
TEST_F(ComOverPty, AnEndedPseudoTerminalOpenedByItsOwnNameIsNeverTakenBack) {
    std::optional<PtyPair> first(std::in_place);
    const std::string name = first->slaveName();
    ComPortMapping toFirst(1, name);
    ASSERT_TRUE(com.Open());
    first.reset();
    ASSERT_TRUE(waitForLoss());

    PtyPair next;  // the lowest free number: the one just freed, unless another took it meanwhile
    const PortCause cause = com.reopenSameDevice().cause;
    EXPECT_NE(cause, PortCause::done);
    if (next.slaveName() == name) {
        EXPECT_EQ(cause, PortCause::otherDevice);
    }
}

// The environment decides first, then the device the operator chose in the picker (porty.cfg in
// the working directory, read afresh each time), then the first serial ports of the PC.
TEST(PortDeviceName, MappedByTheEnvironmentThenByPortyCfgThenTheFirstSerialPorts) {
    QTemporaryDir dir;
    test::CurrentDirectory inDir(dir.path().toStdString());
    ::unsetenv("KVBRIDGE_COM5");
    ::unsetenv("KVBRIDGE_COM6");
    EXPECT_EQ(portDeviceName(5), "/dev/ttyS4");
    std::ofstream(kPortDevicesFile, std::ios::binary) << "COM5=/dev/ttyACM0\r\nCOM56=/x\n";
    EXPECT_EQ(portDeviceName(5), "/dev/ttyACM0");
    ASSERT_TRUE(rememberPortDevice(6, "/dev/serial/by-id/usb-X-if00-port0"));
    ASSERT_TRUE(rememberPortDevice(5, "/dev/ttyUSB1"));
    const struct {
        int port;
        const char* environment;  // null: not set
        const char* expected;
    } rows[] = {
        {5, nullptr, "/dev/ttyUSB1"},      {6, nullptr, "/dev/serial/by-id/usb-X-if00-port0"},
        {5, "/dev/pts/77", "/dev/pts/77"}, {5, "", "/dev/ttyUSB1"},
        {7, nullptr, "/dev/ttyS6"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.port);
        std::optional<ComPortMapping> mapped;
        if (row.environment) mapped.emplace(row.port, row.environment);
        EXPECT_EQ(portDeviceName(row.port), row.expected);
    }
    std::ifstream in(kPortDevicesFile, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(written,
              "COM5=/dev/ttyUSB1\r\nCOM56=/x\r\nCOM6=/dev/serial/by-id/usb-X-if00-port0\r\n");
}

}  // namespace
}  // namespace kv
