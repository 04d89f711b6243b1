#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "link/TQCCom32.h"
#include "support/Pty.h"
#include "support/ScriptedPrompts.h"

// The serial component on a real kernel line: the slave side of a pseudo-terminal.
namespace kv {
namespace {

using namespace std::chrono_literals;
using test::ComPortMapping;
using test::PtyPair;
using test::ScriptedPrompts;

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
    // Waits on the port, never sleeps, until n bytes are read or 3 s pass.
    std::string readAtLeast(std::size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        std::string got;
        while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
            com.WaitForInput(100);
            got += com.ReadText();
        }
        return got;
    }
    // Waits on the port until at least n bytes are waiting or 3 s pass.
    int waitForCount(int n) {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (com.InCount() < n && std::chrono::steady_clock::now() < deadline)
            com.WaitForInput(100);
        return com.InCount();
    }

    PtyPair unit;
    ComPortMapping com1{1, unit.slaveName()};
    ComPortMapping com7{7, test::kMissingDevice};
    ScriptedPrompts prompts;
    SystemClock clock;
    int devicesMade = 0;
    TQCCom32 com{[this] {
                     ++devicesMade;
                     return makeQtSerialDevice();
                 },
                 prompts, clock};
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

TEST_F(ComOverPty, ReadTextOfAClosedPortOpensItAndReturnsAtOnceWhenNothingWaits) {
    EXPECT_EQ(com.ReadText(), "");
    EXPECT_TRUE(com.Opened());
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ComOverPty, ReadTextReturnsExactlyTheWaitingBytes) {
    ASSERT_TRUE(com.Open());
    const std::string five = bytesOf({0x00, 0x41, 0x80, 0xFE, 0xFF});
    unit.writeMaster(five);
    ASSERT_EQ(waitForCount(5), 5);
    EXPECT_EQ(com.ReadText(), five);
    EXPECT_EQ(com.InCount(), 0);
}

TEST_F(ComOverPty, WriteTextOpensAClosedPortAndAnEmptyTextIsTrue) {
    EXPECT_TRUE(com.WriteText("Q"));
    EXPECT_TRUE(com.Opened());
    EXPECT_EQ(unit.readMaster(1), "Q");
    EXPECT_TRUE(com.WriteText(""));
    EXPECT_EQ(unit.drainMaster(), "");
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

TEST_F(ComOverPty, TerminatorWaitReturnsEverythingOfTheRead) {
    com.setEndOfResponse("#13#10");
    ASSERT_TRUE(com.Open());
    unit.writeMaster(bytesOf({65, 66, 13, 10, 67}));
    ASSERT_EQ(waitForCount(5), 5);
    EXPECT_EQ(com.ReadText(), bytesOf({65, 66, 13, 10, 67}));
    EXPECT_FALSE(com.TimedOut());
}

TEST_F(ComOverPty, TerminatorWaitTimesOutWithThePartialData) {
    com.setEndOfResponse("#13");
    com.setResponseTime(200);
    com.setShowErrors(false);
    int timeouts = 0;
    com.OnTimeout = [&](TQCCom32* sender) {
        EXPECT_EQ(sender, &com);
        ++timeouts;
    };
    ASSERT_TRUE(com.Open());
    unit.writeMaster("AB");
    ASSERT_EQ(waitForCount(2), 2);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(com.ReadText(), "AB");
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 2000ms);
    EXPECT_TRUE(com.TimedOut());
    EXPECT_EQ(timeouts, 1);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ComOverPty, FailedOpenWithoutShowErrorsIsOneSilentAttempt) {
    com.setShowErrors(false);
    com.setPort(7);
    EXPECT_EQ(devicesMade, 0) << "a closed port only stores the number";
    EXPECT_FALSE(com.Open());
    EXPECT_EQ(devicesMade, 1);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(com.ReadText(), "");
    EXPECT_FALSE(com.WriteText("x"));
}

TEST_F(ComOverPty, FailedOpenAsksAbortOrRetryUntilAbort) {
    struct Case {
        const char* name;
        std::deque<PromptAnswer> answers;
        int attempts;
    };
    const Case cases[] = {
        {"abort at once", {PromptAnswer::Abort}, 1},
        {"retry then abort", {PromptAnswer::Retry, PromptAnswer::Abort}, 2},
        {"closing the box retries too", {PromptAnswer::Ok, PromptAnswer::Retry}, 3},
    };
    com.setPort(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompts.shown.clear();
        prompts.answers = c.answers;
        devicesMade = 0;
        EXPECT_FALSE(com.Open());
        EXPECT_EQ(devicesMade, c.attempts);
        ASSERT_EQ(int(prompts.shown.size()), c.attempts);
        for (const auto& shown : prompts.shown) {
            EXPECT_EQ(shown.kind, ScriptedPrompts::Kind::AbortRetry);
            EXPECT_EQ(shown.caption, QString::fromUtf8("Sériový port"));
            EXPECT_TRUE(shown.text.contains(QString::fromUtf8(
                "COM7 (/nonexistent/kvbridge-no-such-port): zařízení neexistuje")))
                << shown.text.toStdString();
            EXPECT_TRUE(shown.text.contains("KVBRIDGE_COM7"));
        }
    }
}

TEST_F(ComOverPty, APortHeldByAnotherProgramIsReportedAsBusy) {
    ASSERT_TRUE(com.Open());  // port 1, held
    TQCCom32 second([] { return makeQtSerialDevice(); }, prompts, clock);
    prompts.answers = {PromptAnswer::Abort};
    EXPECT_FALSE(second.Open());
    EXPECT_EQ(second.OpenFailure().cause, PortCause::busy);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_TRUE(prompts.shown[0].text.contains(
        QString::fromUtf8("COM1 (%1): zařízení je obsazeno jiným programem")
            .arg(QString::fromStdString(unit.slaveName()))))
        << prompts.shown[0].text.toStdString();
}

TEST_F(ComOverPty, RetryOpensAPortThatHasBecomeAvailable) {
    com.setPort(7);
    std::optional<ComPortMapping> plugged;
    prompts.answers = {PromptAnswer::Retry};
    prompts.whileShown = [&](const auto&) { plugged.emplace(7, unit.slaveName()); };
    EXPECT_TRUE(com.Open());
    EXPECT_EQ(prompts.shown.size(), 1u);
}

TEST(PortDeviceName, MappedByTheEnvironmentOrTheFirstSerialPorts) {
    {
        ComPortMapping mapped(5, "/dev/pts/77");
        EXPECT_EQ(portDeviceName(5), "/dev/pts/77");
    }
    {
        ComPortMapping empty(5, "");
        EXPECT_EQ(portDeviceName(5), "/dev/ttyS4");
    }
    ::unsetenv("KVBRIDGE_COM6");
    EXPECT_EQ(portDeviceName(6), "/dev/ttyS5");
}

}  // namespace
}  // namespace kv
