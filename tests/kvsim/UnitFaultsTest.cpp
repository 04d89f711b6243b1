#include <gtest/gtest.h>

#include "UnitDriver.h"

// Misbehaviour on request, and garbage on the line.
namespace kvsim::test {
namespace {

TEST(UnitFaults, TruncatedEventIsSentAgainWholeWithTheSameIndex) {
    UnitOptions o = quickOptions();
    o.truncateEvery = 1;
    UnitDriver d(o);
    d.runUntil(2000);
    auto writes = d.takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].bytes.size(), 11u);
    EXPECT_EQ(writes[0].bytes[0], 'Z');

    d.runUntil(6999);
    EXPECT_TRUE(d.takeWrites().empty()) << "the bridge may still be reading the broken frame";
    const auto again = d.nextFrame();
    EXPECT_EQ(d.nowMs, 7000);
    EXPECT_EQ(again[1], 2);
    EXPECT_EQ(again.word(2), 1);
    d.answer();
    const Summary s = d.unit.summary();
    EXPECT_EQ(s.eventsSent, 1);
    EXPECT_EQ(s.eventsResent, 1);
    EXPECT_EQ(s.answered, 1);
}

TEST(UnitFaults, BackToBackEventAnsweredAtOnceIsNotSentAgain) {
    UnitOptions o = quickOptions();
    o.backToBackEvery = 1;
    o.events = 1;
    UnitDriver d(o);
    d.runUntil(2000);
    const auto frames = d.takeFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0][1], 2);
    EXPECT_EQ(frames[1][1], 3);
    d.runFor(200);
    d.answer();
    d.runFor(60000);
    EXPECT_TRUE(d.takeWrites().empty());
    EXPECT_EQ(d.unit.summary().eventsResent, 0);
    EXPECT_EQ(d.unit.summary().answered, 1);
}

TEST(UnitFaults, NoiseHasNoMarkerAndTheFrameFollowsWhole) {
    UnitOptions o = quickOptions();
    o.noise = true;
    o.events = 5;
    UnitDriver d(o);
    for (int k = 1; k <= 5; ++k) {
        d.runUntil(std::max(d.nowMs + 1, d.unit.nextWakeMs()));
        const auto writes = d.takeWrites();
        ASSERT_EQ(writes.size(), 1u);
        const std::string& w = writes[0].bytes;
        const auto marker = w.find('Z');
        ASSERT_NE(marker, std::string::npos);
        EXPECT_GE(marker, 2u);
        EXPECT_EQ(w.size(), marker + 17);
        EXPECT_EQ(static_cast<std::uint8_t>(w[marker + 1]), 2);
        EXPECT_EQ(static_cast<std::uint8_t>(w[marker + 3]), k);
        d.answer();
    }
}

TEST(UnitFaults, SplitFrameComesInTwoWritesAPauseApart) {
    UnitOptions o = quickOptions();
    o.split = true;
    UnitDriver d(o);
    d.runUntil(2200);
    const auto writes = d.takeWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].bytes.size(), 8u);
    EXPECT_EQ(writes[1].bytes.size(), 9u);
    EXPECT_EQ(writes[1].atMs - writes[0].atMs, 100);
    EXPECT_EQ(writes[0].bytes[0], 'Z');
    EXPECT_EQ(writes[0].bytes[1], 2);
}

TEST(UnitFaults, ZInDataFillsTheBytesTheBridgeDoesNotRead) {
    UnitOptions o = quickOptions();
    o.zInData = true;
    UnitDriver d(o);
    const auto f = d.nextFrame();
    EXPECT_EQ(bytes(f, 14, 16), (std::vector<int>{0x5A, 0x5A, 0x5A}));
    EXPECT_EQ(f[13], 1);
}

TEST(UnitWire, GarbageBetweenTheBridgesFramesIsSkipped) {
    UnitOptions o = quickOptions();
    o.events = 0;
    UnitDriver d(o);
    const auto wire = kv::wireForm(UnitDriver::frame(8));
    d.bridgeSendsBytes("\x01\xF0\x33" + std::string(wire.begin(), wire.end()) + "\xA5\xF0");
    d.runFor(1500);
    EXPECT_EQ(d.unit.summary().statsRequests, 1);
    EXPECT_EQ(d.unit.summary().garbageBytes, 5u);
}

}  // namespace
}  // namespace kvsim::test
