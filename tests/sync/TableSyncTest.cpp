// Tick-exact tests of the tables-changed signalling (trigger files, repetition, a download
// broken off) and of pacing.
#include <gtest/gtest.h>

#include <fstream>

#include "link/Errors.h"
#include "link/EventFields.h"
#include "support/EngineHarness.h"
#include "sync/TableDownload.h"

namespace kv::test {
namespace {

TEST(TriggerFiles, BothFilesGiveOneTablesChangedFrameThenEvery254Ticks) {
    EngineHarness h;
    std::ofstream(h.driveC / "zamestnanci") << "1";
    std::ofstream(h.driveC / "kategorie") << "1";
    h.tick();
    EXPECT_EQ(h.sentCodes(), std::vector<int>{7});
    EXPECT_FALSE(std::filesystem::exists(h.driveC / "zamestnanci"));
    EXPECT_FALSE(std::filesystem::exists(h.driveC / "kategorie"));
    h.ticks(253);
    EXPECT_EQ(h.sentFrames().size(), 1u);
    h.tick();
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{7, 7}));
    h.ticks(254);
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{7, 7, 7}));
    // The unit asks for the tables and gets them: the repetition ends.
    request(h, frameOf({1}));
    reply(h, "1|000000000001|0800|1|0\n-------\n1|2|3|4|5\n");
    h.ticks(600);
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{2, 3, 4, 5}));
}

TEST(TableDownload, OneBrokenOffIsAnnouncedAgainAtTheNextStart) {
    EngineHarness h;
    const std::string table = "1|000000000001|0800|1|0\n-------\n1|2|3|4|5\n";
    const auto mark = TableDownload::markFile(h.workDir);
    request(h, frameOf({1}));
    h.line->stallAt = 19 + 7;  // the opening frame and part of the first record
    reply(h, table);
    EXPECT_TRUE(std::filesystem::exists(mark));
    h.engine->resetForProgramStart();
    EXPECT_FALSE(std::filesystem::exists(mark));
    h.line->stallAt = -1;
    h.line->advance();  // what the device held goes out
    h.line->written.clear();
    EXPECT_EQ(h.ticksUntilTablesAnnounced(1), 1);

    request(h, frameOf({1}));
    reply(h, table);
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{2, 3, 4, 5}));
    EXPECT_FALSE(std::filesystem::exists(mark));
    h.engine->resetForProgramStart();
    EXPECT_EQ(h.ticksUntilTablesAnnounced(300), std::nullopt);
}

// Asked to end during the pause after the first five records: 40 records paced five to a second
// are through in 8 s and get their closing frame; 60 would take 12 s and are broken off before
// their next frame, and announced again.
TEST(TableDownload, AskedToEndFinishesOnlyWhatIsThroughWithin10Seconds) {
    for (const int records : {40, 60}) {
        SCOPED_TRACE(records);
        const bool finishes = records == 40;
        EngineHarness h;
        h.setOption(&TerminalConfig::slowcom, true);
        std::string table;
        for (int i = 1; i <= records; ++i) table += std::to_string(i) + "|000000000001|0800|1|0\n";
        request(h, frameOf({1}));
        h.line->written.clear();
        h.http.complete(table);
        h.ticks(5);
        ASSERT_EQ(h.sentCodes(), std::vector<int>({2, 3, 3, 3, 3, 3})) << "in the pause";
        EXPECT_EQ(h.engine->askJobToEnd(), finishes);
        h.ticks(100);
        std::vector<int> codes{2};
        codes.insert(codes.end(), finishes ? records : 5, 3);
        codes.push_back(finishes ? 5 : 7);  // broken off: the tables are announced again
        EXPECT_EQ(h.sentCodes(), codes);
        EXPECT_EQ(std::filesystem::exists(TableDownload::markFile(h.workDir)), !finishes);
    }
}

std::string records(int n) {
    std::string table;
    for (int i = 1; i <= n; ++i) table += std::to_string(i) + "|000000000001|0800|1|0\n";
    return table;
}

// At 2400 baud a frame takes 79 ms on the line: a 200-record download leaves at 12.6 frames a
// second whether the system takes what it is given or pushes back after a frame; the system
// never holds more than the frame on the line and the next; progress counts records that have
// left, and the history and the mark file tell of the download once its closing frame has left.
TEST(TableDownload, LeavesAtTheLinesPaceAndIsToldSentWhenItsClosingFrameHasLeft) {
    for (const std::int64_t room : {-1, 19}) {
        SCOPED_TRACE(room);
        EngineHarness h;
        h.line->bytesPerSecond = 240;
        h.line->systemRoom = room;
        std::optional<std::int64_t> toldAt;
        bool markWhenTold = true;
        h.engine->view().setHistoryListener([&](const HistoryEntry& e) {
            if (e.text.rfind("Tabulky odeslány", 0) != 0) return;
            toldAt = h.clock.monotonicMs();
            markWhenTold = std::filesystem::exists(TableDownload::markFile(h.workDir));
        });
        std::vector<std::pair<std::uint64_t, std::int64_t>> progress;  // done, when
        h.engine->setJobListener(
            [&](const JobProgress& p) { progress.emplace_back(p.done, h.clock.monotonicMs()); });
        request(h, frameOf({1}));
        reply(h, records(200));
        const std::vector<std::int64_t>& out = h.line->framesOutAtMs;
        ASSERT_EQ(out.size(), 202u);
        EXPECT_NEAR(201 * 1000.0 / double(out.back() - out.front()), 12.63, 0.1);
        EXPECT_LE(h.line->mostOnTheWay, 2u * 19);
        for (const auto& [done, at] : progress)
            if (done > 0) {
                EXPECT_LE(out[done], at) << done << " records told before they left";
            }
        ASSERT_TRUE(toldAt);
        EXPECT_GE(*toldAt, out.back());
        EXPECT_LE(*toldAt, out.back() + 100);
        EXPECT_FALSE(markWhenTold);
    }
}

// The unit waits 3 s for a download's next frame: a line that stood still longer and then moved
// on carried tables the unit had dropped, which are not told sent and are announced again.
TEST(TableDownload, ALineThatStoodLongerThanTheUnitWaitsIsNotToldSent) {
    for (const int standTicks : {20, 42}) {
        SCOPED_TRACE(standTicks);
        const bool whole = standTicks == 20;
        EngineHarness h;
        h.line->bytesPerSecond = 240;
        h.line->systemRoom = 19;
        std::vector<std::string> history;
        h.engine->view().setHistoryListener(
            [&](const HistoryEntry& e) { history.push_back(e.text); });
        request(h, frameOf({1}));
        h.line->stallAt = 19 * 3;  // the opening frame and two records, then the line stands
        h.http.complete(records(10));
        h.ticks(standTicks);
        h.line->stallAt = -1;
        h.untilRunEnds();
        EXPECT_EQ(std::filesystem::exists(TableDownload::markFile(h.workDir)), !whole);
        EXPECT_EQ(history.back().rfind(whole ? "Tabulky odeslány"
                                             : "Stahování tabulek přerušeno – "
                                               "linka k RJ stála 4,0 s (",
                                       0),
                  0u)
            << history.back();
        EXPECT_EQ(h.ticksUntilTablesAnnounced(2).has_value(), !whole);
    }
}

// Stop mid-download: nothing is handed over after it; what was (the frame on the line and at
// most the next) goes out whole, and the tables are announced again at the next start.
TEST(TableDownload, StopMidRunHandsOverNothingAfterTheFrameOnTheLine) {
    EngineHarness h;
    h.line->bytesPerSecond = 240;
    request(h, frameOf({1}));
    h.line->written.clear();
    h.http.complete(records(200));
    h.ticks(20);
    ASSERT_TRUE(h.engine->jobRunning());
    const std::size_t out = h.line->written.size();
    const std::size_t handed = out + h.line->onTheWay.size() + h.line->held.size();
    EXPECT_GT(out, 19u * 20);
    EXPECT_LE(handed - out, 2u * 19);
    h.engine->stopCommunication();
    EXPECT_FALSE(h.engine->jobRunning());
    h.clock.advanceMs(2'000);
    h.line->advance();
    EXPECT_EQ(h.line->written.size(), handed) << "what was handed over goes out, nothing more";
    EXPECT_EQ(handed % 19, 0u);
    EXPECT_TRUE(std::filesystem::exists(TableDownload::markFile(h.workDir)));
}

// A unit that asks for the tables whenever it is told they changed, against a table server that
// fails every request: without a pause between the announcements it would be asked twice a
// second, for ever.
TEST(TableBackOff, AFailingTableServerIsAskedAfterWaitsThatDouble) {
    EngineHarness h;
    std::ofstream(h.driveC / "zamestnanci") << "1";
    std::vector<std::int64_t> failedAt;
    for (int tick = 0; tick < 1500; ++tick) {  // 150 s
        h.tick();
        if (h.line->written.find("\xF0\xF0\xA5\x07") != std::string::npos) {
            h.line->written.clear();
            h.unitSends(frameOf({1}));
        }
        if (h.http.running()) {
            h.http.complete("Internal Server Error\n", 500);
            h.tick();
            failedAt.push_back(h.clock.monotonicMs() - 100);
            EXPECT_EQ(h.engine->status().tableFailures, failedAt.size());
            const std::int64_t wait = 30'000 << (failedAt.size() - 1);
            EXPECT_EQ(h.engine->status().nextTableAttemptMs, failedAt.back() + wait);
        }
    }
    EXPECT_GE(failedAt.size(), 2u);
    EXPECT_LE(failedAt.size(), 5u);
    for (std::size_t i = 1; i < failedAt.size(); ++i)
        EXPECT_GE(failedAt[i] - failedAt[i - 1], 30'000 << (i - 1));
}

// What ends the back-off, and what counts as a failed download.
TEST(TableBackOff, ATriggerTheOperatorOrAWholeDownloadEndsIt) {
    const std::string table = "1|000000000001|0800|1|0\n-------\n1|2|3|4|5\n";
    enum End { triggerFile, operatorCommand, wholeDownload };
    for (const End end : {triggerFile, operatorCommand, wholeDownload}) {
        SCOPED_TRACE(end);
        EngineHarness h;
        request(h, frameOf({1}));
        reply(h, "Fatal error: database gone away in kvsync\n");
        ASSERT_EQ(h.engine->status().tableFailures, 1u);
        h.tick();
        EXPECT_EQ(h.sentCodes(), std::vector<int>{});
        switch (end) {
            case triggerFile:
                std::ofstream(h.driveC / "kategorie") << "1";
                h.tick();
                EXPECT_EQ(h.sentCodes(), std::vector<int>{7});
                break;
            case operatorCommand:
                h.engine->command(ToUnit::tablesChanged);
                break;
            case wholeDownload:
                request(h, frameOf({1}));
                reply(h, table);
                EXPECT_EQ(h.sentCodes(), (std::vector<int>{2, 3, 4, 5}));
                break;
        }
        EXPECT_EQ(h.engine->status().tableFailures, 0u);
        EXPECT_EQ(h.engine->status().nextTableAttemptMs, std::nullopt);
    }
}

TEST(TableBackOff, AReplyThatCannotBeConvertedIsAFailedDownload) {
    EngineHarness h;
    request(h, frameOf({1}));
    h.http.complete("1|000000000001|0800|1|0\n-------\n1|2|3|4|5\n");
    EngineProbe::awaitReply(*h.engine);
    std::filesystem::create_directory(h.workDir / "get.tmp");  // get.tmp cannot be written
    EXPECT_THROW(EngineProbe::processReply(*h.engine), HandlerError);
    EXPECT_EQ(h.engine->status().tableFailures, 1u);
    EXPECT_EQ(h.sentCodes(), std::vector<int>{});
    EXPECT_TRUE(h.ticksUntilTablesAnnounced(400)) << "announced again after the back-off";
}

TEST(TriggerFiles, OneThatCannotBeDeletedIsReportedAndNoLongerWatchedTheOtherIs) {
    EngineHarness h;
    std::vector<std::size_t> told;
    h.engine->view().setStatusListener([&](const BridgeStatus& status) {
        if (told.empty() ? !status.warnings.empty() : told.back() != status.warnings.size())
            told.push_back(status.warnings.size());
    });
    std::filesystem::create_directories(h.driveC / "zamestnanci" / "inside");
    std::ofstream(h.driveC / "kategorie") << "1";
    h.tick();
    EXPECT_EQ(h.fields.text(Field::stavprac), "Chyba pr\xE1v souboru!");
    EXPECT_EQ(h.fields.text(Field::stavdatum), "Soubor c:zamestnanci");
    EXPECT_EQ(h.fields.text(Field::stavcip), "nejde smazat!!!!");
    const std::vector<std::string> standing = {
        "Chyba práv souboru! Soubor c:zamestnanci nejde smazat!!!! (" +
        (h.driveC / "zamestnanci").string() + ")"};
    EXPECT_EQ(h.engine->status().warnings, standing);
    EXPECT_EQ(h.engine->status().tone, Tone::warning) << "a running bridge with a warning";
    EXPECT_FALSE(std::filesystem::exists(h.driveC / "kategorie"));  // still handled that tick
    EXPECT_EQ(h.sentCodes(), std::vector<int>{7});
    h.ticks(300);
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{7, 7})) << "the stuck file no longer announces";
    std::ofstream(h.driveC / "kategorie") << "1";
    h.tick();
    EXPECT_FALSE(std::filesystem::exists(h.driveC / "kategorie"));
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{7, 7, 7}));
    // The next worker's name takes the fields; the warning stands until the program starts again.
    request(h, kEvent);
    reply(h, "---OK---\nJan Novak\nsome more text\n");
    EXPECT_EQ(h.fields.text(Field::stavprac), "Jan Novak");
    EXPECT_EQ(h.engine->status().warnings, standing);
    h.engine->resetForProgramStart();
    EXPECT_TRUE(h.engine->status().warnings.empty());
    EXPECT_EQ(told, (std::vector<std::size_t>{1, 0}));
}

// Fictitious events carry the second they went out in: with slower transfer five go out at the
// start of each clock second once the five before them have left the line (2400 baud: 79 ms a
// frame); the statistics request counts in the bursts too.
TEST(Pacing, BurstsOfFiveStartOnTheSecondAfterTheFramesBeforeThemLeftTheLine) {
    const struct {
        bool slowcom;
        int second, millisecond, events;
        std::vector<int> seconds;  // of each event
    } rows[] = {
        {true, 9, 300, 12, {9, 9, 9, 9, 9, 10, 10, 10, 10, 10, 11, 11}},
        // Without it no pause: the events go at the line's pace, 79 ms apart.
        {false, 9, 300, 12, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 10, 10}},
        // From 9.700 the five frames leave the line at 10.096: the next waits for 11.
        {true, 9, 700, 6, {9, 9, 9, 9, 9, 11}},
        // After second 59 the pause ends at second 1.
        {true, 59, 500, 6, {59, 59, 59, 59, 59, 1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.slowcom << " " << row.second << "." << row.millisecond);
        EngineHarness h;
        h.setOption(&TerminalConfig::slowcom, row.slowcom);
        h.clock.setWall(2024, 3, 5, 7, 4, row.second, row.millisecond);
        ASSERT_EQ(h.engine->sendFictitiousEvents(std::uint16_t(row.events)), OperationResult::done);
        h.ticks(40);
        const std::vector<CommandFrame> frames = h.sentFrames();
        ASSERT_EQ(frames.size(), std::size_t(row.events) + 1);
        std::vector<int> seconds;
        for (int i = 0; i < row.events; ++i)
            seconds.push_back(event::time(frames[std::size_t(i)]).second);
        EXPECT_EQ(seconds, row.seconds);
        EXPECT_EQ(frames.back().code(), 8);
    }
}

}  // namespace
}  // namespace kv::test
