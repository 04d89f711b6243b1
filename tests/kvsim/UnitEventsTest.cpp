#include <gtest/gtest.h>

#include "UnitDriver.h"

// The unit's events and its session with the bridge.
namespace kvsim::test {
namespace {

TEST(UnitEvents, FirstEventAfterOneIntervalCarriesIndexKodClockAndNameRequest) {
    UnitDriver d(quickOptions());
    d.runUntil(1999);
    EXPECT_TRUE(d.takeWrites().empty());
    d.runUntil(2000);
    const auto frames = d.takeFrames();
    ASSERT_EQ(frames.size(), 1u);
    const kv::CommandFrame& f = frames[0];
    EXPECT_EQ(f[1], 2);
    EXPECT_EQ(f.word(2), 1);  // event index
    EXPECT_EQ(f[4], 1);       // kod: first chip of the list
    EXPECT_EQ(bytes(f, 5, 6), (std::vector<int>{1, 1}));
    // The unit's clock started at 14:05:09 and two seconds have passed.
    EXPECT_EQ(bytes(f, 7, 12), (std::vector<int>{14, 5, 11, 7, 3, 27}));
    EXPECT_EQ(f[13], 1);
    EXPECT_EQ(bytes(f, 14, 16), (std::vector<int>{0, 0, 0}));
}

TEST(UnitEvents, AnswerWithNameIsRecordedAndTheNextEventFollows) {
    UnitDriver d(quickOptions());
    d.nextFrame();
    d.runFor(300);
    d.answer("Nov\xE1k Jan");  // Windows-1250
    const Summary s = d.unit.summary();
    EXPECT_EQ(s.answered, 1);
    EXPECT_EQ(s.answeredWithName, 1);
    EXPECT_EQ(s.names, std::vector<std::string>{"Novak Jan"});

    const auto second = d.nextFrame();
    EXPECT_EQ(d.nowMs, 4000);  // one interval after the first event, not after the answer
    EXPECT_EQ(second.word(2), 2);
    EXPECT_EQ(second[4], 2);
    EXPECT_EQ(second[13], 0);  // alternate: the second event does not ask
    d.answer();
    EXPECT_EQ(d.unit.summary().answered, 2);
    EXPECT_EQ(d.unit.summary().answeredWithName, 1);
}

TEST(UnitEvents, NextEventWaitsForTheAnswerAndAnAnsweredEventLeavesAGap) {
    UnitOptions o = quickOptions();
    o.intervalS = 0.1;
    UnitDriver d(o);
    d.nextFrame();
    d.runFor(10000);
    EXPECT_TRUE(d.takeWrites().empty()) << "a second event while the first awaits its answer";
    d.answer();
    const std::int64_t answeredAt = d.nowMs;
    d.nextFrame();
    EXPECT_EQ(d.nowMs, answeredAt + 400);
}

TEST(UnitEvents, UnansweredEventTimesOutAndTheNextOneGoes) {
    UnitOptions o = quickOptions();
    o.answerTimeoutS = 35;
    UnitDriver d(o);
    d.nextFrame();
    const std::int64_t sentAt = d.nowMs;
    d.runUntil(sentAt + 34999);
    EXPECT_EQ(d.unit.summary().timedOut, 0);
    EXPECT_TRUE(d.takeWrites().empty());
    d.runUntil(sentAt + 35000);
    EXPECT_EQ(d.unit.summary().timedOut, 1);
    const auto next = d.nextFrame();
    EXPECT_EQ(next.word(2), 2);
    EXPECT_EQ(d.unit.summary().pendingAtEnd, 1);
}

TEST(UnitEvents, AnswerWhileNoEventAwaitsIsCountedNotRecorded) {
    UnitDriver d(quickOptions());
    d.answer("Nobody");
    EXPECT_EQ(d.unit.summary().answered, 0);
    EXPECT_EQ(d.unit.summary().unexpectedAnswers, 1);
}

TEST(UnitEvents, CardEventCarriesTheChipNumberAndNoIndex) {
    UnitOptions o = quickOptions();
    o.cardEvery = 2;
    o.chips = {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, {0x01, 0x02, 0x03, 0x04, 0x05, 0xA0}};
    UnitDriver d(o);
    d.nextFrame();
    d.answer();
    const auto card = d.nextFrame();
    EXPECT_EQ(card[1], 5);
    EXPECT_EQ(bytes(card, 2, 7), (std::vector<int>{0x01, 0x02, 0x03, 0x04, 0x05, 0xA0}));
    EXPECT_EQ(bytes(card, 8, 10), (std::vector<int>{2, 1, 1}));  // kod, type, place
    EXPECT_EQ(bytes(card, 11, 16), (std::vector<int>{14, 5, 13, 7, 3, 27}));
}

TEST(UnitEvents, NameRequestByMode) {
    struct Row {
        NameRequest mode;
        int cardEvery;
        std::vector<int> expected;  // byte 13 of the FrameCode-2 events among the first six
    };
    const Row rows[] = {
        {NameRequest::always, 0, {1, 1, 1, 1, 1, 1}},
        {NameRequest::never, 0, {0, 0, 0, 0, 0, 0}},
        {NameRequest::alternate, 0, {1, 0, 1, 0, 1, 0}},
        // Card events do not count: events 1, 2, 4, 5 are the FrameCode-2 ones.
        {NameRequest::alternate, 3, {1, 0, 1, 0}},
    };
    for (const Row& row : rows) {
        UnitOptions o = quickOptions();
        o.nameRequest = row.mode;
        o.cardEvery = row.cardEvery;
        o.events = 6;
        UnitDriver d(o);
        std::vector<int> got;
        for (int k = 0; k < 6; ++k) {
            const auto f = d.nextFrame();
            if (f[1] == 2) got.push_back(f[13]);
            d.answer();
        }
        EXPECT_EQ(got, row.expected)
            << static_cast<int>(row.mode) << " card every " << row.cardEvery;
    }
}

TEST(UnitEvents, KodIsThePositionOfTheChipAndWrapsWithTheList) {
    UnitOptions o = quickOptions();
    o.chips = {{1, 1, 1, 1, 1, 1}, {2, 2, 2, 2, 2, 2}, {3, 3, 3, 3, 3, 3}};
    o.events = 5;
    UnitDriver d(o);
    std::vector<int> kods;
    for (int k = 0; k < 5; ++k) {
        kods.push_back(d.nextFrame()[4]);
        d.answer();
    }
    EXPECT_EQ(kods, (std::vector<int>{1, 2, 3, 1, 2}));
    d.runFor(60000);
    EXPECT_TRUE(d.takeWrites().empty()) << "more events than asked for";
}

TEST(UnitSession, WaitsForTheBridgesStartFrameAndTakesItsClock) {
    UnitOptions o;  // waits for the bridge
    o.statsAtStart = true;
    UnitDriver d(o);
    d.runUntil(60000);
    EXPECT_TRUE(d.takeWrites().empty());
    EXPECT_FALSE(d.unit.sessionStarted());

    kv::CommandFrame start = UnitDriver::frame(11);
    kv::pridejcas(start, kv::WallTime{2030, 12, 31, 23, 59, 58, 0, 2});
    d.bridgeSends(start);
    EXPECT_EQ(d.unit.summary().clockSets, 1);

    const auto stats = d.nextFrame();
    EXPECT_EQ(stats[1], 3);
    EXPECT_EQ(d.nowMs, 60400);
    const auto event = d.nextFrame();
    EXPECT_EQ(d.nowMs, 62000);
    // The set clock runs on: two seconds later it is a new year.
    EXPECT_EQ(bytes(event, 7, 12), (std::vector<int>{0, 0, 0, 1, 1, 31}));
}

TEST(UnitSession, FinishesAfterTheLastAnswerAndTheLingerUnlessForever) {
    for (const bool forever : {false, true}) {
        UnitOptions o = quickOptions();
        o.events = 1;
        o.lingerS = 2;
        o.forever = forever;
        UnitDriver d(o);
        d.nextFrame();
        EXPECT_FALSE(d.unit.finished(d.nowMs));
        d.answer();
        d.runFor(1999);
        EXPECT_FALSE(d.unit.finished(d.nowMs));
        d.runFor(1);
        EXPECT_EQ(d.unit.finished(d.nowMs), !forever);
    }
}

}  // namespace
}  // namespace kvsim::test
