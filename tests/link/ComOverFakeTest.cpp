#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMetaObject>

#include "link/TQCCom32.h"
#include "support/FakeClock.h"
#include "support/FakeSerialDevice.h"
#include "support/ScriptedPrompts.h"

// The serial component on the in-memory line: terminator decoding, line settings and the
// exact timing of its waits.
namespace kv {
namespace {

using test::FakeClock;
using test::FakeSerialLine;
using test::ScriptedPrompts;

std::string bytesOf(std::initializer_list<int> values) {
    std::string bytes;
    for (int v : values) bytes.push_back(char(v));
    return bytes;
}

TEST(TQCCom32, EndOfResponseDecodesIntoTerminatorBytes) {
    struct Case {
        const char* text;
        std::string terminator;
    };
    const Case cases[] = {
        {"#13#10", bytesOf({13, 10})},
        {"OK#13", bytesOf({79, 75, 13})},
        {"#65#66", "AB"},
        {"#300", bytesOf({44})},  // low 8 bits
        {"#0", std::string(1, '\0')},
        {"#-1", bytesOf({255})},
        {"#", ""},
        {"", ""},
        {"##13", "##13"},                      // empty code: literal
        {"#13OK", "#13OK"},                    // text after a code: literal
        {"#99999999999", "#99999999999"},      // beyond an integer: literal
        {"\xc4\x8d#13", bytesOf({0xE8, 13})},  // c with caron, in Windows-1250
    };
    test::FakeClock clock;
    ScriptedPrompts prompts;
    auto line = std::make_shared<FakeSerialLine>();
    TQCCom32 com(test::fakeSerialFactory(line), prompts, clock);
    for (const Case& c : cases) {
        com.setEndOfResponse(QString::fromUtf8(c.text));
        EXPECT_EQ(com.Terminator(), c.terminator) << c.text;
        EXPECT_EQ(com.EndOfResponse(), QString::fromUtf8(c.text));
    }
    EXPECT_EQ(line->devicesMade, 0) << "the terminator never touches the port";
}

// Exact timing and counting on the in-memory line.
class ComOverFake : public ::testing::Test {
protected:
    ComOverFake() { line->clock = &clock; }
    std::int64_t elapsedSince(std::int64_t start) const { return clock.monotonicMs() - start; }

    FakeClock clock;
    ScriptedPrompts prompts;
    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    TQCCom32 com{test::fakeSerialFactory(line), prompts, clock};
};

TEST_F(ComOverFake, OpenAppliesTheLineSettingsAndReopensWhenOpen) {
    com.setBaud(2400);
    ASSERT_TRUE(com.Open());
    EXPECT_EQ(line->baud, 2400);
    EXPECT_EQ(line->openName, portDeviceName(1));
    ASSERT_TRUE(com.Open());
    EXPECT_EQ(line->opens, 2);
    EXPECT_EQ(line->closes, 1);
}

TEST_F(ComOverFake, SettersReopenOnlyOnAChangeWhileOpen) {
    struct Case {
        const char* name;
        std::function<void()> same;
        std::function<void()> changed;
        std::function<bool()> applied;
    };
    const Case cases[] = {
        {"Baud", [&] { com.setBaud(com.Baud()); },
         [&] { com.setBaud(com.Baud() == 2400 ? 9600 : 2400); },
         [&] { return line->baud == com.Baud(); }},
        {"Handshaking", [&] { com.setHandshaking(com.Handshaking()); },
         [&] {
             com.setHandshaking(com.Handshaking() == Handshake::hsNone ? Handshake::hsHardware
                                                                       : Handshake::hsNone);
         },
         [&] { return line->handshake == com.Handshaking(); }},
        {"Port", [&] { com.setPort(com.Port()); }, [&] { com.setPort(com.Port() == 1 ? 2 : 1); },
         [&] { return line->openName == portDeviceName(com.Port()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        com.Close();
        const int opens = line->opens;
        c.changed();
        EXPECT_EQ(line->opens, opens) << "closed: only stored";
        EXPECT_FALSE(com.Opened());

        ASSERT_TRUE(com.Open());
        c.same();
        EXPECT_EQ(line->opens, opens + 1) << "same value: no reopen";
        c.changed();
        EXPECT_EQ(line->opens, opens + 2) << "new value: reopened";
        EXPECT_TRUE(com.Opened());
        EXPECT_TRUE(c.applied());
    }
}

TEST_F(ComOverFake, ShortWriteIsFalse) {
    line->writeLimit = 2;
    EXPECT_FALSE(com.WriteText("abc"));
    EXPECT_EQ(line->written, "ab");
}

TEST_F(ComOverFake, PurgeAndCloseOfAClosedPortDoNothing) {
    com.Purge();
    com.Close();
    EXPECT_EQ(line->purges, 0);
    EXPECT_EQ(line->devicesMade, 0);
}

TEST_F(ComOverFake, DestructionClosesThePort) {
    {
        TQCCom32 own(test::fakeSerialFactory(line), prompts, clock);
        ASSERT_TRUE(own.Open());
        EXPECT_TRUE(line->open);
    }
    EXPECT_FALSE(line->open);
}

TEST_F(ComOverFake, TerminatorArrivingLaterEndsTheWaitAtThatMoment) {
    com.setEndOfResponse("#13#10");
    const std::int64_t start = clock.monotonicMs();
    line->arrivals = {{start + 100, "O"}, {start + 300, "K\r\nx"}};
    EXPECT_EQ(com.ReadText(), "OK\r\nx");
    EXPECT_EQ(elapsedSince(start), 300);
    EXPECT_FALSE(com.TimedOut());
}

TEST_F(ComOverFake, TimeoutPromptRetryRestartsTheFullWait) {
    struct Case {
        const char* name;
        bool showErrors;
        std::deque<PromptAnswer> answers;
        int prompts;
        std::int64_t elapsed;
    };
    const Case cases[] = {
        {"no messages", false, {}, 0, 1000},
        {"abort", true, {PromptAnswer::Abort}, 1, 1000},
        {"retry, then abort", true, {PromptAnswer::Retry, PromptAnswer::Abort}, 2, 2000},
        {"only Retry retries", true, {PromptAnswer::Ok}, 1, 1000},
    };
    com.setEndOfResponse("#13");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        com.setShowErrors(c.showErrors);
        prompts.answers = c.answers;
        prompts.shown.clear();
        int timeouts = 0;
        com.OnTimeout = [&](TQCCom32*) { ++timeouts; };
        line->input = "AB";
        const std::int64_t start = clock.monotonicMs();

        EXPECT_EQ(com.ReadText(), "AB");
        EXPECT_EQ(elapsedSince(start), c.elapsed);
        EXPECT_TRUE(com.TimedOut());
        EXPECT_EQ(timeouts, std::max(c.prompts, 1));
        EXPECT_EQ(prompts.count("Timeout waiting for response."), c.prompts);
        EXPECT_FALSE(com.InUse());
    }
}

TEST_F(ComOverFake, RetryGetsTheTerminatorInTheSecondRound) {
    com.setEndOfResponse("#13");
    prompts.answers = {PromptAnswer::Retry};
    const std::int64_t start = clock.monotonicMs();
    line->arrivals = {{start + 1500, "\r"}};
    EXPECT_EQ(com.ReadText(), "\r");
    EXPECT_EQ(elapsedSince(start), 1500);
    EXPECT_FALSE(com.TimedOut());
    EXPECT_EQ(prompts.shown.size(), 1u);
}

TEST_F(ComOverFake, AllowEventsLetsHandlersRunDuringTheWait) {
    com.setEndOfResponse("#13");
    com.setShowErrors(false);
    for (const bool allow : {true, false}) {
        SCOPED_TRACE(allow ? "AllowEvents" : "no events");
        com.setAllowEvents(allow);
        bool ran = false;
        // A handler that runs during the wait supplies the terminator.
        QMetaObject::invokeMethod(
            &com,
            [&] {
                ran = true;
                line->input += "\r";
            },
            Qt::QueuedConnection);
        const std::int64_t start = clock.monotonicMs();
        const std::string got = com.ReadText();
        EXPECT_EQ(ran, allow);
        EXPECT_EQ(com.TimedOut(), !allow);
        EXPECT_EQ(elapsedSince(start), allow ? 0 : 1000);
        QCoreApplication::processEvents();
        com.Purge();
    }
}

TEST_F(ComOverFake, ReadTextInsideAWaitingReadTextIsRefused) {
    com.setEndOfResponse("#13");
    com.setAllowEvents(true);
    for (const bool showErrors : {true, false}) {
        SCOPED_TRACE(showErrors ? "ShowErrors" : "silent");
        com.setShowErrors(showErrors);
        prompts.shown.clear();
        std::string nested = "not run";
        QMetaObject::invokeMethod(
            &com,
            [&] {
                EXPECT_TRUE(com.InUse());
                nested = com.ReadText();
                line->input += "\r";
            },
            Qt::QueuedConnection);
        line->input = "A";
        EXPECT_EQ(com.ReadText(), "A\r");
        EXPECT_EQ(nested, "");
        EXPECT_FALSE(com.InUse());
        EXPECT_EQ(prompts.count("Port is in use -- operation aborted"), showErrors ? 1 : 0);
    }
}

TEST_F(ComOverFake, PortClosedDuringTheWaitEndsInATimeout) {
    com.setEndOfResponse("#13");
    com.setShowErrors(false);
    com.setAllowEvents(true);
    QMetaObject::invokeMethod(
        &com, [&] { com.Close(); }, Qt::QueuedConnection);
    const std::int64_t start = clock.monotonicMs();
    EXPECT_EQ(com.ReadText(), "");
    EXPECT_TRUE(com.TimedOut());
    EXPECT_EQ(elapsedSince(start), 1000);
}

}  // namespace
}  // namespace kv
