// Tick-exact tests of the tables-changed signalling (trigger files, repetition, a download
// broken off) and of pacing.
#include <gtest/gtest.h>

#include <fstream>

#include "link/Errors.h"
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
    EXPECT_EQ(h.engine->state().tableSyncCountdown, 254);
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
    EXPECT_EQ(h.engine->state().tableSyncCountdown, 1);
    EXPECT_FALSE(std::filesystem::exists(mark));

    h.line->stallAt = -1;
    request(h, frameOf({1}));
    reply(h, table);
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{2, 3, 4, 5}));
    EXPECT_FALSE(std::filesystem::exists(mark));
    h.engine->resetForProgramStart();
    EXPECT_EQ(h.engine->state().tableSyncCountdown, 0);
}

// Asked to end after the third record: 20 records at 2400 baud are through in 2 s and get their
// closing frame; 60 paced five to a second would take 12 s and are broken off.
TEST(TableDownload, AskedToEndFinishesOnlyWhatIsThroughWithin10Seconds) {
    for (const bool slowcom : {false, true}) {
        SCOPED_TRACE(slowcom);
        EngineHarness h;
        h.setOption(&TerminalConfig::slowcom, slowcom);
        std::string table;
        for (int i = 1; i <= (slowcom ? 60 : 20); ++i)
            table += std::to_string(i) + "|000000000001|0800|1|0\n";
        h.engine->setProgressHook([&](Engine::Progress, std::uint64_t done, std::uint64_t) {
            if (done == 3) h.engine->setEnding();
            return true;
        });
        request(h, frameOf({1}));
        reply(h, table);
        EXPECT_EQ(h.sentCodes().size(), slowcom ? 4u : 22u);
        EXPECT_EQ(std::filesystem::exists(TableDownload::markFile(h.workDir)), slowcom);
    }
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
            EXPECT_EQ(h.engine->tableDownloadFailures(), failedAt.size());
            const std::int64_t wait = 30'000 << (failedAt.size() - 1);
            EXPECT_EQ(h.engine->nextTableAnnouncementMs(), failedAt.back() + wait);
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
        ASSERT_EQ(h.engine->tableDownloadFailures(), 1u);
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
        EXPECT_EQ(h.engine->tableDownloadFailures(), 0u);
        EXPECT_EQ(h.engine->nextTableAnnouncementMs(), std::nullopt);
    }
}

TEST(TableBackOff, AReplyThatCannotBeConvertedIsAFailedDownload) {
    EngineHarness h;
    request(h, frameOf({1}));
    h.http.complete("1|000000000001|0800|1|0\n-------\n1|2|3|4|5\n");
    h.engine->awaitReply();
    std::filesystem::create_directory(h.engine->getTmp());  // get.tmp cannot be written
    EXPECT_THROW(h.engine->processReply(), HandlerError);
    EXPECT_EQ(h.engine->tableDownloadFailures(), 1u);
    EXPECT_EQ(h.engine->state().tableSyncCountdown, 1);
    EXPECT_EQ(h.sentCodes(), std::vector<int>{});
}

TEST(TriggerFiles, OneThatCannotBeDeletedIsReportedAndNoLongerWatchedTheOtherIs) {
    EngineHarness h;
    std::vector<std::size_t> told;
    h.engine->setStatusListener([&](const BridgeStatus& status) {
        if (told.empty() ? !status.warnings.empty() : told.back() != status.warnings.size())
            told.push_back(status.warnings.size());
    });
    std::filesystem::create_directories(h.driveC / "zamestnanci" / "inside");
    std::ofstream(h.driveC / "kategorie") << "1";
    h.tick();
    EXPECT_EQ(h.fields.text(Field::stavprac), "Chyba pr\xE1v souboru!");
    EXPECT_EQ(h.fields.text(Field::stavdatum), "Soubor c:zamestnanci");
    EXPECT_EQ(h.fields.text(Field::stavcip), "nejde smazat!!!!");
    EXPECT_EQ(h.engine->state().triggerFileError, 1);
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

TEST(Pacing, BurstsWaitForTheNextSecondAfterEveryFifthFrame) {
    for (bool slowcom : {true, false}) {
        SCOPED_TRACE(slowcom);
        EngineHarness h;
        h.setOption(&TerminalConfig::slowcom, slowcom);
        h.clock.setWall(2024, 3, 5, 7, 4, 9, 300);
        h.state().slowFrameCounter = 1;
        std::vector<int> waitedAfter;
        for (int i = 1; i <= 12; ++i) {
            const auto before = h.clock.sleptMs();
            h.engine->sendWithTime(ToUnit::section1Record);
            if (h.clock.sleptMs() != before) waitedAfter.push_back(i);
            EXPECT_EQ(h.clock.now().millisecond, waitedAfter.empty() ? 300 : 0);
        }
        EXPECT_EQ(waitedAfter, slowcom ? (std::vector<int>{5, 10}) : std::vector<int>{});
        h.state().slowFrameCounter = 0;
        const auto before = h.clock.sleptMs();
        for (int i = 0; i < 7; ++i) h.engine->sendWithTime(ToUnit::setClock);
        EXPECT_EQ(h.clock.sleptMs(), before);
    }
}

// The system takes the frames at once; five of them take 396 ms on the line at 2400 baud.  The
// pause starts once they have left it: from 9.700 that is at 10.096, and the pause ends at 11.
TEST(Pacing, ThePauseFollowsTheFramesOnTheLine) {
    EngineHarness h;
    h.setOption(&TerminalConfig::slowcom, true);
    h.clock.setWall(2024, 3, 5, 7, 4, 9, 700);
    h.state().slowFrameCounter = 1;
    for (int i = 0; i < 5; ++i) h.engine->sendWithTime(ToUnit::section1Record);
    EXPECT_EQ(h.clock.now().second, 11);
    EXPECT_EQ(h.clock.now().millisecond, 0);
}

TEST(Pacing, AWaitStartedInSecond59EndsAtSecond1) {
    EngineHarness h;
    h.setOption(&TerminalConfig::slowcom, true);
    h.clock.setWall(2024, 3, 5, 7, 4, 59, 500);
    h.state().slowFrameCounter = 5;
    h.engine->sendWithTime(ToUnit::section1Record);
    EXPECT_EQ(h.clock.now().second, 1);
    EXPECT_EQ(h.clock.now().millisecond, 0);
    EXPECT_EQ(h.engine->state().slowFrameCounter, 1);
}

}  // namespace
}  // namespace kv::test
