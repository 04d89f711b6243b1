#include <gtest/gtest.h>

#include "Report.h"
#include "UnitDriver.h"

// Tables, statistics, clock frames and pacing of the unit.
namespace kvsim::test {
namespace {

TEST(UnitTables, TablesChangedIsAnsweredWithOneTableRequest) {
    UnitOptions o = quickOptions();
    o.events = 0;
    UnitDriver d(o);
    d.bridgeSends(UnitDriver::frame(7));
    const auto request = d.nextFrame();
    EXPECT_EQ(request[1], 1);
    EXPECT_EQ(d.nowMs, 400);
    d.runFor(20000);
    EXPECT_TRUE(d.takeWrites().empty()) << "one table request per tables-changed frame";
    EXPECT_EQ(d.unit.summary().tableRequests, 1);
}

TEST(UnitTables, TableRequestWaitsForThePendingAnswer) {
    UnitDriver d(quickOptions());
    d.nextFrame();
    d.runFor(100);
    d.bridgeSends(UnitDriver::frame(7));
    d.runFor(5000);
    EXPECT_TRUE(d.takeWrites().empty()) << "the bridge is busy with the event";
    d.answer();
    const auto request = d.nextFrame();
    EXPECT_EQ(request[1], 1);
}

kv::CommandFrame record3(std::uint16_t index, std::vector<std::uint8_t> chip, int hh, int mm,
                         int number, int b13, int b14) {
    kv::CommandFrame f = UnitDriver::frame(3);
    f[2] = static_cast<std::uint8_t>(index >> 8);
    f[3] = static_cast<std::uint8_t>(index & 0xFF);
    for (int i = 0; i < 6; ++i) f[4 + i] = chip[static_cast<std::size_t>(i)];
    f[10] = static_cast<std::uint8_t>(hh);
    f[11] = static_cast<std::uint8_t>(mm);
    f[12] = static_cast<std::uint8_t>(number);
    f[13] = static_cast<std::uint8_t>(b13);
    f[14] = static_cast<std::uint8_t>(b14);
    return f;
}

TEST(UnitTables, DownloadIsStoredWrittenAndFollowedByASecondOfQuiet) {
    UnitOptions o = quickOptions();
    o.events = 0;
    UnitDriver d(o);
    d.bridgeSends(UnitDriver::frame(7));
    EXPECT_EQ(d.nextFrame()[1], 1);
    d.runFor(300);
    d.bridgeSends(UnitDriver::frame(2, {14, 5, 9, 7, 3, 27, 7, 0}));
    d.bridgeSends(record3(5, {0x01, 0x02, 0x03, 0x04, 0x05, 0xA0}, 8, 15, 3, 129, 30));
    d.bridgeSends(record3(1234, {0x00, 0x11, 0x22, 0x33, 0x44, 0xAA}, 7, 30, 5, 0, 128));
    d.bridgeSends(UnitDriver::frame(4, {3, 17, 10, 15, 1, 30, 2}));
    d.bridgeSends(UnitDriver::frame(8));  // asked mid-download: answered after it
    d.runFor(500);
    EXPECT_TRUE(d.takeWrites().empty()) << "the unit talks during a download";
    d.bridgeSends(UnitDriver::frame(5, {14, 5, 10, 7, 3, 27, 7, 0}));
    const std::int64_t endedAt = d.nowMs;

    const Summary s = d.unit.summary();
    EXPECT_EQ(s.tableDownloads, 1);
    EXPECT_EQ(s.s1Records, 2);
    EXPECT_EQ(s.s2Records, 1);
    EXPECT_TRUE(d.unit.takeTablesChanged());
    EXPECT_FALSE(d.unit.takeTablesChanged());
    EXPECT_EQ(tableText(d.unit.table()),
              "S1 5 0102030405A0 0815 3 129 30\n"
              "S1 1234 0011223344AA 0730 5 0 128\n"
              "S2 3 17 10 15 1 30 2\n");

    const auto stats = d.nextFrame();
    EXPECT_EQ(stats[1], 3);
    EXPECT_EQ(d.nowMs, endedAt + 1000);
}

TEST(UnitTables, DownloadWithoutItsEndIsDroppedAndTheOldTablesStay) {
    UnitOptions o = quickOptions();
    o.events = 0;
    UnitDriver d(o);
    d.bridgeSends(UnitDriver::frame(2));
    d.bridgeSends(record3(1, {1, 2, 3, 4, 5, 6}, 0, 0, 0, 0, 0));
    d.bridgeSends(UnitDriver::frame(5));
    ASSERT_EQ(d.unit.table().section1.size(), 1u);

    d.bridgeSends(UnitDriver::frame(2));
    d.bridgeSends(record3(2, {1, 2, 3, 4, 5, 6}, 0, 0, 0, 0, 0));
    d.bridgeSends(record3(3, {1, 2, 3, 4, 5, 6}, 0, 0, 0, 0, 0));
    d.runFor(3000);
    const Summary s = d.unit.summary();
    EXPECT_EQ(s.incompleteDownloads, 1);
    EXPECT_EQ(s.tableDownloads, 1);
    EXPECT_EQ(d.unit.table().section1.size(), 1u);
    // A closing frame that comes too late closes nothing.
    d.bridgeSends(UnitDriver::frame(5));
    EXPECT_EQ(d.unit.summary().tableDownloads, 1);
}

// The bridge's statistics arithmetic, as it shows the unit's report.
TEST(UnitStatistics, ReportMatchesWhatTheUnitHolds) {
    UnitOptions o = quickOptions();
    o.events = 3;
    UnitDriver d(o);
    d.bridgeSends(UnitDriver::frame(2));
    for (int i = 0; i < 20; ++i)
        d.bridgeSends(record3(static_cast<std::uint16_t>(i), {1, 2, 3, 4, 5, 6}, 0, 0, 0, 0, 0));
    for (int i = 0; i < 50; ++i) d.bridgeSends(UnitDriver::frame(4, {1, 2, 3, 4, 5, 6, 7}));
    d.bridgeSends(UnitDriver::frame(5));
    d.nextFrame();  // event 1 at 2 s is never answered and is lost at 37 s ...
    d.runFor(35000);
    EXPECT_EQ(d.takeFrames().size(), 1u);  // ... when event 2 goes
    d.runUntil(38900);
    d.answer();
    d.bridgeSends(UnitDriver::frame(8));
    // At 39.3 s statistics go first, while event 3 (due at 39 s) waits in the queue.
    const auto f = d.nextFrame();
    EXPECT_EQ(d.nowMs, 39300);
    ASSERT_EQ(f[1], 3);
    EXPECT_EQ(d.unit.summary().statsRequests, 1);

    EXPECT_EQ(f[2], 0);  // 64 kB
    EXPECT_EQ(f[5], 1);  // the place of the last event
    const int top = 0xFFFF;
    int x = top - f.word(6);
    if (x > 0) ++x;
    EXPECT_EQ(x / 4, 64);                          // terminals
    EXPECT_EQ((f.word(8) - 256) / 13, 20);         // subjects
    EXPECT_EQ((f.word(12) - f.word(8)) / 7, 50);   // permissions
    EXPECT_EQ((f.word(10) - f.word(12)) / 11, 1);  // queued: the next event is due
    EXPECT_EQ(f.word(6) - f.word(10), 0xFF00 - 256 - 20 * 13 - 50 * 7 - 11);  // free
    EXPECT_EQ(f[14], 1);  // lost: the one that timed out
}

TEST(UnitStatistics, ChipNumberFrameHoldsTheLastChipRead) {
    UnitOptions o = quickOptions();
    o.chips = {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}};
    o.memory32k = true;
    UnitDriver d(o);
    d.nextFrame();
    d.answer();
    d.bridgeSends(UnitDriver::frame(9));
    const auto f = d.nextFrame();
    ASSERT_EQ(f[1], 4);
    EXPECT_EQ(bytes(f, 2, 7), (std::vector<int>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(f[14], 0x80);
    EXPECT_EQ(f.word(12), 0x7F00);
    EXPECT_EQ((f.word(8) - f.word(10)) / 11, 0);  // nothing queued right after the answer
    EXPECT_EQ(d.unit.summary().chipRequests, 1);
}

TEST(UnitStatistics, PeriodicStatisticsAreSpacedAndWaitForTheLine) {
    UnitOptions o = quickOptions();
    o.events = 0;
    o.statsEveryS = 10;
    UnitDriver d(o);
    d.nextFrame();
    EXPECT_EQ(d.nowMs, 10000);
    d.nextFrame();
    EXPECT_EQ(d.nowMs, 20000);
    EXPECT_EQ(d.unit.summary().statsSent, 2);
    EXPECT_EQ(d.unit.summary().statsRequests, 0);
}

TEST(UnitClockFrames, ClockReportWaitsForTheSetClockFrame) {
    UnitOptions o = quickOptions();
    o.clockReportAtStart = true;
    o.intervalS = 0.5;
    UnitDriver d(o);
    const auto report = d.nextFrame();
    EXPECT_EQ(bytes(report, 1, 7), (std::vector<int>{6, 1, 3, 7, 14, 5, 9}));
    d.runFor(5000);
    EXPECT_TRUE(d.takeWrites().empty()) << "the bridge is asking the web application";

    kv::CommandFrame set = UnitDriver::frame(1);
    kv::pridejcas(set, kv::WallTime{2027, 3, 7, 15, 0, 0, 0, 7});
    d.bridgeSends(set);
    EXPECT_EQ(d.unit.summary().clockSets, 1);
    ASSERT_TRUE(d.unit.summary().lastClockSet.has_value());
    EXPECT_EQ(formatCivil(*d.unit.summary().lastClockSet), "15:00:00 07.03.2027");
    const auto event = d.nextFrame();
    EXPECT_EQ(event[1], 2);
    EXPECT_EQ(bytes(event, 7, 9), (std::vector<int>{15, 0, 0}));
}

TEST(UnitClockFrames, TimeOutOfRangeLeavesTheClock) {
    UnitDriver d(quickOptions());
    d.bridgeSends(UnitDriver::frame(1, {25, 0, 0, 1, 1, 27}));
    EXPECT_EQ(d.unit.summary().clockSets, 0);
    EXPECT_EQ(formatCivil(d.unit.clock(d.nowMs)), "14:05:09 07.03.2027");
}

TEST(UnitOperator, FictitiousEventsAndUnknownFramesAreCounted) {
    UnitDriver d(quickOptions());
    for (int i = 1; i <= 3; ++i)
        d.bridgeSends(UnitDriver::frame(10, {0, static_cast<std::uint8_t>(i)}));
    d.bridgeSends(UnitDriver::frame(42));
    EXPECT_EQ(d.unit.summary().fictitiousEvents, 3);
    EXPECT_EQ(d.unit.summary().unknownFrames, 1);
}

TEST(UnitPacing, TwoRepliesAskedTogetherGoAtLeast400MsApart) {
    UnitOptions o = quickOptions();
    o.events = 0;
    UnitDriver d(o);
    d.bridgeSends(UnitDriver::frame(8));
    d.bridgeSends(UnitDriver::frame(9));
    d.runFor(3000);
    const auto writes = d.takeWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].atMs, 400);
    EXPECT_EQ(writes[1].atMs, 800);
}

}  // namespace
}  // namespace kvsim::test
