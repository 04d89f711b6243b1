// Tick-exact tests of what the server's replies make the bridge send to the unit.
#include <gtest/gtest.h>

#include <fstream>

#include "link/EventFields.h"
#include "support/EngineHarness.h"

namespace kv::test {
namespace {

const CommandFrame kEventWithName =
    frameOf({2, 0, 7, 3, 4, 5, 7, 4, 9, 5, 3, 24, 1, 0xAA, 0xBB, 0xCC});

TEST(EventReply, OkWithTheNameRequestedSendsTheNameWithoutDiacritics) {
    EngineHarness h;
    request(h, kEventWithName);
    h.line->input = "late bytes";  // purged with the end of the exchange
    reply(h,
          "---OK---\n\x8E"
          "lu\x9Dou\xE8k\xFD k\xF9\xF2 P\xF8\xEDli\x9A Nov\xFD\n");
    EXPECT_EQ(h.fields.text(Field::stavprac),
              "\x8Elu\x9Dou\xE8k\xFD k\xF9\xF2 P\xF8\xEDli\x9A Nov\xFD");
    ASSERT_EQ(h.sentFrames().size(), 1u);
    const CommandFrame f = h.sentFrames()[0];
    EXPECT_EQ(f.code(), 6);
    EXPECT_EQ(std::string(f.bytes.begin() + 1, f.bytes.end()), "Zlutoucky kun P");
    EXPECT_EQ(h.fields.text(Field::statpc), "6");
    EXPECT_FALSE(h.engine->status().requestUnderWay);
    EXPECT_TRUE(h.line->input.empty());
    EXPECT_FALSE(std::filesystem::exists(h.workDir / "get.txt"));
    EXPECT_FALSE(std::filesystem::exists(h.workDir / "get.tmp"));
}

// Only a marker is a verdict.  Without one the unit gets nothing and repeats the event, but the
// delivery failed: a web application that answers so leaves every terminal unanswered.
TEST(EventReply, OneWithoutAVerdictIsAFailedDelivery) {
    const std::string noVerdict = "Server odpověděl bez výsledku – chyba webové aplikace?";
    const auto tooShort = [](int size) {
        return "Odpověď serveru je příliš krátká (" + std::to_string(size) +
               " B), výsledek se nečte";
    };
    const struct {
        const char* name;
        std::string body;
        std::string cause;
    } rows[] = {
        {"html_page", "<html><body>Parse error in kvsync.php</body></html>\n", noVerdict},
        {"ok_and_name_in_13_bytes", "---OK---\nJan\n", tooShort(13)},
        {"garbage", std::string(300, '\x1B'), noVerdict},
        {"empty", "", tooShort(0)},
        {"err_is_a_verdict", "---Err--\nNeznamy cip 0102030405\n", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EngineHarness h;
        request(h, kEventWithName);
        reply(h, row.body);
        EXPECT_EQ(h.sentCodes(), std::vector<int>{});
        EXPECT_EQ(h.engine->status().cause, row.cause);
        EXPECT_EQ(h.engine->status().state,
                  row.cause.empty() ? CommState::running : CommState::serverFailing);
        EXPECT_EQ(h.engine->status().failed, row.cause.empty() ? 0u : 1u);
        EXPECT_EQ(h.engine->status().forwarded, row.cause.empty() ? 1u : 0u);
    }
}

// One refusal is the server's word on one chip; ten in a row are a web application that records
// nothing, which the status must not hide until one is accepted.
TEST(EventReply, TenRefusalsInARowStandAsAWarning) {
    EngineHarness h;
    const auto answer = [&h](int index, const std::string& verdict) {
        CommandFrame f = kEventWithName;
        event::setIndex(f, std::uint16_t(index));
        request(h, f);
        reply(h, verdict + "\nNezn\xE1m\xFD \xE8ip nebo chyba datab\xE1ze\n");
    };
    for (int i = 1; i < 10; ++i) answer(i, "---Err--");
    EXPECT_TRUE(h.engine->status().warnings.empty());
    answer(10, "---Err--");
    ASSERT_EQ(h.engine->status().warnings.size(), 1u);
    EXPECT_EQ(h.engine->status().tone, Tone::warning);
    EXPECT_TRUE(h.engine->status().serverRefusing) << "told as a lasting failure";
    answer(11, "---OK---");
    EXPECT_TRUE(h.engine->status().warnings.empty());
    EXPECT_EQ(h.engine->status().tone, Tone::normal);
}

TEST(EventReply, OkWithoutTheNameRequestAnswersByteTwoZero) {
    EngineHarness h;
    CommandFrame noName = kEventWithName;
    noName[13] = 0;
    request(h, noName);
    reply(h, "---OK---\nJan Nov\xE1k\nsome more text\n");
    ASSERT_EQ(h.sentFrames().size(), 1u);
    CommandFrame expected = noName;
    expected[1] = 6;
    expected[2] = 0;
    EXPECT_EQ(h.sentFrames()[0], expected);  // the rest of the event frame goes back unchanged
}

TEST(TableReply, RecordsGoOutBetweenTheOpeningAndClosingFrames) {
    EngineHarness h;
    request(h, frameOf({1}));
    reply(h,
          "5|0102030405A0|815|3|-90\n"
          "1234|0011223344AA|730|5|-90\n"
          "258|FFFFFFFFFFFF|0|255|18000\n"
          "-------- and the rest\n"
          "3|17|615|90|2\n"
          "12345\n"
          "1|2|3|4|5\n");
    const auto frames = h.sentFrames();
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{2, 3, 3, 3, 4, 4, 5}));
    ASSERT_EQ(frames.size(), 7u);
    const CommandFrame& r1 = frames[1];
    EXPECT_EQ(std::vector<int>(r1.bytes.begin() + 1, r1.bytes.begin() + 14),
              (std::vector<int>{0, 5, 1, 2, 3, 4, 5, 0xA0, 8, 15, 3, 129, 30}));
    const CommandFrame& r2 = frames[2];
    EXPECT_EQ(std::vector<int>(r2.bytes.begin() + 1, r2.bytes.begin() + 14),
              (std::vector<int>{4, 210, 0x00, 0x11, 0x22, 0x33, 0x44, 0xAA, 7, 30, 5, 129, 30}));
    const CommandFrame& r4 = frames[4];
    EXPECT_EQ(std::vector<int>(r4.bytes.begin() + 1, r4.bytes.begin() + 8),
              (std::vector<int>{3, 17, 10, 15, 1, 30, 2}));
}

// What each reply makes the bridge send to the unit and show: the status, the size, the
// section separator, the line ends and the markers decide.
TEST(Replies, WhatGoesToTheUnitAndWhatTheWindowShows) {
    enum Asked { event, tables, recalculation, poll };
    struct Row {
        const char* name;
        Asked asked;
        int status;
        std::string body;
        std::vector<int> codes;  // frames to the unit
        Field field;
        std::string shown;  // in field
        int announced;      // 1: the tables are announced to the unit again
    };
    const std::string table = "1|000000000001|0800|1|0\n-------\n1|2|3|4|5\n";
    const std::string kept =
        "Tabulky nep\xF8\x65neseny: server neposlal \x9E\xE1\x64n\xE9ho pracovn\xEDka \x96 tabulky "
        "v RJ ponech\xE1ny";
    // 396 records and 4 lines that are none: 1 % unreadable is still a table.
    std::string manyRecords = "x\nx\nx\nx\n";
    std::vector<int> manyCodes{2};
    for (int i = 0; i < 396; ++i) manyRecords += "1|000000000001|0800|1|0\n";
    manyCodes.resize(397, 3);
    manyCodes.push_back(5);
    const Row rows[] = {
        {"event_error",
         event,
         200,
         "---Err--\nNezn\xE1m\xFD \xE8ip 0102030405\n",
         {},
         Field::stavprac,
         "Nezn\xE1m\xFD \xE8ip 0102030405",
         0},
        {"event_twenty_bytes",
         event,
         200,
         "---OK---\nJan Novak\n",
         {},
         Field::stavprac,
         "Kr\xE1tk\xE1 odpov\xEC\xEF!",
         0},
        {"event_no_marker",
         event,
         200,
         "<html>Not found, sorry, nothing</html>\n",
         {},
         Field::stavprac,
         "Bez v\xFDsledku!",
         0},
        {"event_ok_then_err_answers_with_the_last_text",
         event,
         200,
         "---OK---\nJan Novak\n---Err--\nzamitnuto uplne\n",
         {6},
         Field::stavprac,
         "zamitnuto uplne",
         0},
        {"event_err_then_ok",
         event,
         200,
         "---Err--\nzamitnuto uplne\n---OK---\nJan Novak\n",
         {6},
         Field::stavprac,
         "Jan Novak",
         0},
        {"event_crlf_keeps_the_name",
         event,
         200,
         "---OK---\r\nJan Novak\r\nanother line\r\n",
         {6},
         Field::stavprac,
         "Jan Novak",
         0},
        {"event_status_500",
         event,
         500,
         "---OK---\nJan Novak\nInternal Server Error\n",
         {},
         Field::stavprac,
         "Doch.server: chyba 500",
         0},
        {"recalculation_done", recalculation, 200, "", {}, Field::statpc, "99", 0},
        {"recalculation_status_404", recalculation, 404, "", {}, Field::statpc, "Err", 0},
        {"poll_status_500",
         poll,
         500,
         "nothing new for you here\ntabsync\n1\n",
         {},
         Field::statpc,
         "??",
         0},
        {"tables", tables, 200, table, {2, 3, 4, 5}, Field::statpc, "5", 0},
        {"tables_second_separator_changes_nothing",
         tables,
         200,
         "1|000000000001|0800|1|0\n-------\n1|2|3|4|5\n-------\n6|7|8|9|10\n",
         {2, 3, 4, 4, 5},
         Field::statpc,
         "5",
         0},
        {"tables_four_unreadable_refused_whole",
         tables,
         200,
         "1|000000000001|0800|1|0\nxx\nxx\nxx\n-------\nx|2|3|4|5\n1|2|3|4|5\n",
         {},
         Field::urls,
         "Tabulky nep\xF8\x65neseny: tabulka m\xE1 chybn\xFD tvar: 4 ne\xE8iteln\xFD\x63h "
         "z\xE1znam\xF9 z 6, prvn\xED na \xF8\xE1\x64ku 2.",
         1},
        {"tables_one_in_a_hundred_unreadable", tables, 200, manyRecords, manyCodes, Field::statpc,
         "5", 0},
        {"tables_crlf_line_ends",
         tables,
         200,
         "1|000000000001|0800|1|0\r\n-------\r\n1|2|3|4|5\r\n",
         {2, 3, 4, 5},
         Field::statpc,
         "5",
         0},
        {"tables_bad_records_skipped",
         tables,
         200,
         "1|00000000000G|0800|1|0\n1|000000000001|0800|1|\n"
         "1|000000000001|0800|1|0\n-------\n1|2|3|4\n1|2|3|4|5\n",
         {2, 3, 3, 4, 5},
         Field::statpc,
         "5",
         0},
        {"tables_five_and_six_characters",
         tables,
         200,
         "1|000000000001|0800|1|0\n-------------------------\n1|2|3\n1|2|3|\n1|2|3|4|5\n",
         {2, 3, 4, 5},
         Field::statpc,
         "5",
         0},
        {"tables_section_1_only",
         tables,
         200,
         "1|000000000001|0800|1|0\n\n2|000000000002|0800|1|0\n",
         {2, 3, 3, 5},
         Field::statpc,
         "5",
         0},
        // No worker in the reply: the unit keeps its tables, and nothing asks again.
        {"tables_separator_alone", tables, 200, "-------\n", {}, Field::urls, kept, 0},
        {"tables_thirty_dashes", tables, 200, std::string(30, '-'), {}, Field::urls, kept, 0},
        {"tables_47_dashes", tables, 200, std::string(47, '-') + "\n", {}, Field::urls, kept, 0},
        {"tables_separator_and_blanks",
         tables,
         200,
         "-------\n" + std::string(23, '\n'),
         {},
         Field::urls,
         kept,
         0},
        {"tables_empty_body", tables, 200, "", {}, Field::urls, kept, 0},
        // Anything but a table reply leaves the unit's tables alone and has them announced again
        // once the back-off has run.
        {"tables_status_500",
         tables,
         500,
         table,
         {},
         Field::urls,
         "Tabulky nep\xF8\x65neseny: server odpov\xEC\x64\xECl chybou 500.",
         1},
        {"tables_php_error_with_200",
         tables,
         200,
         "Fatal error: database gone away in kvsync\n",
         {},
         Field::urls,
         "Tabulky nep\xF8\x65neseny: odpov\xEC\xEF serveru nen\xED tabulka (42 B).",
         1},
        {"tables_html_page_with_200",
         tables,
         200,
         "<html>\n<body>\n<h1>Chyba</h1>\n</body>\n</html>\n",
         {},
         Field::urls,
         "Tabulky nep\xF8\x65neseny: odpov\xEC\xEF serveru nen\xED tabulka (45 B).",
         1},
        {"tables_record_then_text_skipped",
         tables,
         200,
         "1|000000000001|0800|1|0\nWarning: something\n",
         {2, 3, 5},
         Field::statpc,
         "5",
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EngineHarness h;
        h.fields.setText(Field::stavprac, "Pracovn\xEDk");
        switch (row.asked) {
            case event:
                request(h, kEventWithName);
                break;
            case tables:
                request(h, frameOf({1}));
                break;
            case recalculation:
                ASSERT_EQ(h.engine->recalculate(), OperationResult::done);
                h.tick();
                break;
            case poll:
                h.setIdleTicks(2661);
                h.tick();
                break;
        }
        h.line->written.clear();
        h.http.complete(row.body, row.status);
        h.tick();
        h.untilRunEnds();
        EXPECT_EQ(h.sentCodes(), row.codes);
        EXPECT_EQ(h.fields.text(row.field), row.shown);
        EXPECT_FALSE(h.engine->status().requestUnderWay);
        EXPECT_EQ(h.ticksUntilTablesAnnounced(400).has_value(), row.announced == 1);
        // Only a table download that failed is announced again; none writes into the
        // identification fields.
        if (row.asked == tables) {
            EXPECT_EQ(h.engine->status().state == CommState::serverFailing, row.announced == 1);
            EXPECT_EQ(h.fields.text(Field::stavprac), "Pracovn\xEDk");
        }
    }
}

// A download leaves a line when it starts and when it ends.  Each record left out is a worker or
// category the unit no longer knows: the operator is told until a download leaves none out.  One
// cut by Stop says how far it came and that it is made again.
TEST(TableReply, RecordsLeftOutAreToldInTheHistoryAndTheWarnings) {
    EngineHarness h;
    std::vector<std::string> history;
    h.engine->view().setHistoryListener([&](const HistoryEntry& e) { history.push_back(e.text); });
    const std::string told = "Tabulky odeslány do RJ (2 záznamů, 2 vynechány)";
    request(h, frameOf({1}));
    reply(h, "1|000000000001|0800|1|0\nx|1|1|1|1\n2|000000000002|0800|1|0\n1|2|3\n");
    EXPECT_EQ(history, (std::vector<std::string>{"Stahování tabulek do RJ (2 záznamů)", told}));
    EXPECT_EQ(h.engine->status().warnings, std::vector<std::string>{told});
    request(h, frameOf({1}));
    reply(h, "1|000000000001|0800|1|0\n2|000000000002|0800|1|0\n");
    EXPECT_EQ(history.back(), "Tabulky odeslány do RJ (2 záznamů)");
    EXPECT_TRUE(h.engine->status().warnings.empty());

    h.setOption(&TerminalConfig::slowcom, true);  // five frames a second: 40 s for 200 records
    std::string many;
    for (int i = 1; i <= 200; ++i) many += std::to_string(i) + "|000000000001|0800|1|0\n";
    request(h, frameOf({1}));
    h.http.complete(many + "-------\n");  // processed, and its download cut 2 s into its run
    h.ticks(21);
    h.engine->stopCommunication();
    ASSERT_GE(history.size(), 2u);
    EXPECT_EQ(history[history.size() - 2].rfind("Stahování tabulek přerušeno (", 0), 0u);
    EXPECT_NE(history[history.size() - 2].find(" z 200) – zopakuje se po Startu"),
              std::string::npos)
        << history[history.size() - 2];
}

// A unit or converter that stops reading mid-download: after 5 s without a byte taken the
// download ends as the line's fault, nothing the device holds is thrown away, and the unit does
// not store the half it got as its tables; it gets all of them when it asks again.
TEST(TableReply, ALineThatStopsTakingBytesEndsTheDownloadAfter5sWithoutItsClosingFrame) {
    EngineHarness h;
    std::string body;
    for (int i = 1; i <= 20; ++i) body += std::to_string(i) + "|000000000001|0800|1|0\n";
    body += "-------\n";
    std::int64_t lastTake = 0;
    std::optional<std::int64_t> faultAt;
    QObject::connect(h.com.get(), &TQCCom32::bytesWritten,
                     [&] { lastTake = h.clock.monotonicMs(); });
    h.engine->view().setStatusListener([&](const BridgeStatus& status) {
        if (!faultAt && status.state == CommState::serverFailing) faultAt = h.clock.monotonicMs();
    });
    request(h, frameOf({1}));
    h.line->written.clear();
    h.line->stallAt = 19 * 5 + 7;
    h.http.complete(body);
    h.tick();
    h.untilRunEnds();
    ASSERT_TRUE(faultAt);
    EXPECT_EQ(*faultAt - lastTake, 5'000);
    EXPECT_EQ(h.line->written.find("\xF0\xF0\xA5\x05"), std::string::npos);
    EXPECT_EQ(h.line->written.size(), 19u * 5 + 7);
    EXPECT_EQ(h.fields.text(Field::urls),
              "Tabulky nep\xF8\x65neseny: linka k RJ nep\xF8ijala r\xE1mec, p\xF8\x65nos "
              "p\xF8\x65ru\x9A\x65n po 4 z\xE1znamech.");

    h.line->stallAt = -1;  // the unit reads again: what the device held goes out whole
    h.line->advance();
    EXPECT_TRUE(h.line->held.empty());
    EXPECT_EQ(h.line->written.size() % 19, 0u);
    EXPECT_EQ(h.sentCodes().back(), 3);
    h.line->written.clear();
    ASSERT_TRUE(h.ticksUntilTablesAnnounced(400));
    EXPECT_GE(h.clock.monotonicMs() - *faultAt, 30'000) << "30 s of back-off first";
    EXPECT_EQ(h.sentCodes(), std::vector<int>{7});
    request(h, frameOf({1}));
    reply(h, body);
    const auto codes = h.sentCodes();
    EXPECT_EQ(codes.size(), 22u);
    EXPECT_EQ(codes.back(), 5);
}

TEST(PollReply, TabsyncStartsTheTablesChangedFrameInTheSameTick) {
    struct Row {
        const char* name;
        std::string body;
        bool tabsync;
    };
    const Row rows[] = {
        {"tabsync", "nothing new for you here\ntabsync\n1\n", true},
        {"twice_in_a_row", "nothing new for you here\ntabsync\ntabsync\n", true},
        {"trailing_blank", "nothing new for you here\ntabsync \n1\n", false},
        {"capitals", "nothing new for you here\nTABSYNC\n1\n", false},
        {"short", "tabsync\n1\n", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EngineHarness h;
        h.setIdleTicks(2661);
        h.tick();
        ASSERT_EQ(h.http.calls().size(), 1u);
        ASSERT_EQ(h.http.calls()[0].url, kBase + "?prikaz=4&httphost=127.0.0.1");
        reply(h, row.body);
        EXPECT_EQ(h.sentCodes(), row.tabsync ? std::vector<int>{7} : std::vector<int>{});
        EXPECT_EQ(h.ticksUntilTablesAnnounced(300),
                  row.tabsync ? std::optional(254) : std::nullopt);
    }
}

TEST(ClockReply, IsAnsweredWithTheTime) {
    EngineHarness h;
    request(h, frameOf({6, 1, 24, 3, 5, 7, 4}));
    h.clock.setWall(2027, 3, 7, 14, 5, 9);
    reply(h, "");
    ASSERT_EQ(h.sentFrames().size(), 1u);
    const CommandFrame f = h.sentFrames()[0];
    EXPECT_EQ(std::vector<int>(f.bytes.begin(), f.bytes.begin() + 9),
              (std::vector<int>{1, 14, 5, 9, 7, 3, 27, 7, 0}));
}

}  // namespace
}  // namespace kv::test
