// Tick-exact tests of the wait for the web reply: its time-out, failures and late ticks.
#include <gtest/gtest.h>

#include <fstream>

#include "link/Cp1250.h"
#include "link/Errors.h"
#include "support/EngineHarness.h"

namespace kv::test {
namespace {

TEST(AwaitReply, TimesOutOnTheFirstTickOfTheThirtiethSecond) {
    EngineHarness h;
    h.clock.setWall(2024, 3, 5, 7, 4, 45, 750);
    h.unitSends(kEvent);
    h.ticks(3);  // issued during the tick at second 45.950
    ASSERT_TRUE(h.engine->status().requestUnderWay);
    // Timed out at the first tick at or after second 15 of the next minute.
    int ticks = 0;
    while (h.engine->status().requestUnderWay && ticks < 400) {
        h.tick();
        ++ticks;
    }
    const WallTime t = h.clock.now();
    EXPECT_EQ(t.minute, 5);
    EXPECT_EQ(t.second, 15);
    EXPECT_LT(t.millisecond, 100 + 100);  // the tick that ran in the first 100 ms of it
    EXPECT_EQ(h.fields.text(Field::urls),
              "Timeout p\xF8i \xE8"
              "ek\xE1n\xED na odpov\xEC\xEF doch. serveru.");
    EXPECT_EQ(h.fields.text(Field::stavprac), "Doch.server timeout!");
    EXPECT_EQ(h.fields.text(Field::stavdatum), "\x8Apatn\xE1 adresa?");
    EXPECT_EQ(h.fields.text(Field::statpc), "Err");
    EXPECT_FALSE(h.engine->status().requestUnderWay);
    EXPECT_EQ(h.http.cancelsWhileRunning(), 1);
    EXPECT_FALSE(std::filesystem::exists(h.workDir / "get.tmp"));
    // A good reply ends the failure: its words stay until overwritten, their tone fades.
    ASSERT_EQ(h.engine->recalculate(), OperationResult::done);
    h.tick();
    reply(h, "ok");
    EXPECT_EQ(h.engine->status().state, CommState::running);
    EXPECT_EQ(h.fields.text(Field::stavprac), "Doch.server timeout!");
    EXPECT_EQ(h.fields.tone(Field::stavprac), Tone::normal);
    EXPECT_EQ(h.fields.text(Field::stavdatum), "\x8Apatn\xE1 adresa?");
    EXPECT_EQ(h.fields.tone(Field::stavdatum), Tone::normal);
    EXPECT_EQ(h.fields.text(Field::statpc), "99");
    // The next event is forwarded normally.
    h.unitSends(kEvent);
    h.ticks(3);
    EXPECT_EQ(h.http.calls().size(), 3u);
}

TEST(AwaitReply, AFailedRequestEndsTheWaitAtOnceAndTheNextGoesOut) {
    for (RequestKind kind : {RequestKind::event, RequestKind::tables}) {
        SCOPED_TRACE(int(kind));
        EngineHarness h;
        h.unitSends(kind == RequestKind::event ? kEvent : frameOf({1}));
        h.ticks(3);
        h.http.fail("spojen\xC3\xAD odm\xC3\xADtnuto");
        h.tick();
        EXPECT_FALSE(h.engine->status().requestUnderWay);
        EXPECT_EQ(h.fields.text(Field::urls), "Doch.server nedostupn\xFD: spojen\xED odm\xEDtnuto");
        EXPECT_EQ(h.fields.text(Field::stavdatum), "\x8Apatn\xE1 adresa?");
        EXPECT_EQ(h.fields.text(Field::statpc), "Err");
        EXPECT_EQ(h.engine->status().state, CommState::serverFailing);
        // A reply the disk could not hold, its room free again once the file is gone.
        h.unitSends(frameOf({1}));
        h.ticks(3);
        h.http.fail("nelze zapsat soubor get.tmp: disk je pln\xC3\xBD", true);
        h.tick();
        EXPECT_EQ(h.engine->status().cause,
                  "Místní disk: nelze zapsat soubor get.tmp: disk je plný");
        // The unit's tables are announced again after the back-off, so that it asks again.
        EXPECT_EQ(h.engine->status().tableFailures, kind == RequestKind::tables ? 2u : 1u);
        EXPECT_EQ(h.sentCodes(), std::vector<int>{});
        h.unitSends(kEvent);
        h.ticks(3);
        EXPECT_EQ(h.http.calls().size(), 3u);
        h.http.complete("", 404);
        h.tick();
        EXPECT_EQ(h.engine->status().state, CommState::serverFailing)
            << "an error page is no answer";
        EXPECT_EQ(h.engine->status().cause,
                  "Server vrátil chybu 404 Not Found – zkontrolujte adresu");
        // Only the identifications' failures are undelivered ones.
        EXPECT_EQ(h.engine->status().failed, kind == RequestKind::event ? 2u : 1u);
        EXPECT_EQ(h.engine->status().otherFailed, kind == RequestKind::event ? 1u : 2u);
        h.unitSends(kEvent);
        h.ticks(3);
        h.http.complete("---OK---\nJan Novak\n# the event is stored\n");
        h.tick();
        EXPECT_EQ(h.engine->status().state, CommState::running) << "the server answers again";
        EXPECT_EQ(h.engine->status().cause, "");
        EXPECT_EQ(h.engine->status().forwarded, 1u);
    }
}

// The cause names the part at fault, once: the server (an error status, no reply, no
// connection) or the line to the unit, which is no failed delivery.  Only a failure of the
// connection may be re-checked with the poll; a page to the poll (an HTML one least of all) does
// not disprove an error status or a reply without a verdict, nor a line that took no frame: they
// stand until an identification gets a verdict (the line's, until the unit took a download).
TEST(AwaitReply, FailureCausesNameThePartAtFaultAndWhatEndsThem) {
    enum Fault { status404, status500, htmlPage, timeout, unreachable, broken, lineStall };
    const std::string page =
        "<!DOCTYPE html>\n<html><body>P\xF8ihl\xE1\x9A"
        "en\xED</body></html>\n";
    const std::string pollAnswer = "---OK---\nbeze zmen\n# the stand-in's padding line\n";
    const struct {
        Fault fault;
        std::string cause;
        std::uint64_t failed;
        FaultOf of;
        std::string pollBody;  // the periodic poll's reply afterwards
        bool pollEnds;         // it ends the failure; only then may it re-check before telling
    } rows[] = {
        {status404, "Server vrátil chybu 404 Not Found – zkontrolujte adresu", 1, FaultOf::server,
         pollAnswer, false},
        {status500, "Server vrátil chybu 500 Internal Server Error – chyba webové aplikace?", 1,
         FaultOf::server, pollAnswer, false},
        {htmlPage, "Server odpověděl bez výsledku – chyba webové aplikace?", 1, FaultOf::server,
         page, false},
        {timeout, "Server neodpověděl do 30 s", 1, FaultOf::connection, pollAnswer, true},
        {unreachable, "Server nedostupný: spojení odmítnuto", 1, FaultOf::connection, page, false},
        {unreachable, "Server nedostupný: spojení odmítnuto", 1, FaultOf::connection, pollAnswer,
         true},
        {broken, "Spojení se serverem přerušeno: spojení resetováno", 1, FaultOf::connection,
         pollAnswer, true},
        {lineStall,
         "Tabulky nepřeneseny: linka k RJ nepřijala rámec, přenos přerušen po 0 záznamech.", 0,
         FaultOf::line, pollAnswer, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.cause + " / " + row.pollBody);
        EngineHarness h;
        request(h, row.fault == lineStall ? frameOf({1}) : kEvent);
        if (row.fault == status404 || row.fault == status500)
            h.http.complete("", row.fault == status404 ? 404 : 500);
        if (row.fault == htmlPage) h.http.complete(page);
        if (row.fault == timeout) h.ticks(300);
        if (row.fault == unreachable) h.http.fail("spojení odmítnuto");
        if (row.fault == broken) h.http.fail("spojení resetováno", false, true);
        if (row.fault == lineStall) {
            h.line->stallAt = 19 + 7;
            h.http.complete("1|000000000001|0800|1|0\n-------\n1|2|3|4|5\n");
            h.tick();
            h.untilRunEnds();  // the line's deadline
        }
        h.tick();
        EXPECT_EQ(statusLine(h.engine->status()), "Porucha: " + row.cause);
        // A server that broke the connection is there: no word of a wrong address.
        if (row.fault == unreachable || row.fault == broken) {
            EXPECT_EQ(
                h.fields.text(Field::stavprac),
                cp1250(row.fault == broken ? "Spojení přerušeno!" : "Doch.server nedostupný!"));
            EXPECT_EQ(h.fields.text(Field::stavdatum) == cp1250("Špatná adresa?"),
                      row.fault == unreachable);
        }
        EXPECT_EQ(h.engine->status().failed, row.failed);
        EXPECT_EQ(h.engine->status().faultOf, row.of);
        EXPECT_EQ(h.engine->pollServer(), row.of == FaultOf::connection);
        if (!h.engine->requestOutstanding()) {
            h.setIdleTicks(2661);
            h.tick();
        }
        reply(h, row.pollBody);
        EXPECT_EQ(h.engine->status().state,
                  row.pollEnds ? CommState::running : CommState::serverFailing);
        EXPECT_FALSE(h.engine->status().lastDelivery) << "a poll is no delivery";
        if (row.fault == lineStall) continue;
        request(h, frameOf({2, 9, 2, 3, 4, 5, 7, 4, 9, 5, 3, 24}));
        reply(h, "---Err--\nNezn\xE1m\xFD k\xF3\x64 nebo \xE8ip 9\n");
        EXPECT_EQ(h.engine->status().state, CommState::running) << "a verdict ends every one";
        EXPECT_TRUE(h.engine->status().lastDelivery);
    }
}

TEST(AwaitReply, ATableRequestThatTimesOutHasTheTablesAnnouncedAgain) {
    EngineHarness h;
    h.unitSends(frameOf({1}));
    h.ticks(3 + 310);
    EXPECT_EQ(h.fields.text(Field::stavprac), "Doch.server timeout!");
    EXPECT_EQ(h.sentCodes(), std::vector<int>{});
    h.ticks(300);  // the back-off after a failed download
    EXPECT_EQ(h.sentCodes(), std::vector<int>{7});
}

TEST(AwaitReply, ALateTickOrAClockSetBackDoesNotSlipTheDeadlineByAMinute) {
    EngineHarness h;
    h.clock.setWall(2024, 3, 5, 7, 4, 10, 0);
    h.unitSends(kEvent);
    h.ticks(3);
    h.clock.advanceMs(29'000);
    h.clock.setWall(2024, 3, 5, 6, 0, 0, 0);  // someone sets the PC's clock back an hour
    h.clock.advanceMs(2'000);                 // and the program was held up past the second
    h.tick();                                 // the network layer hands over what came meanwhile
    h.tick();
    EXPECT_FALSE(h.engine->status().requestUnderWay);
    EXPECT_EQ(h.fields.text(Field::stavprac), "Doch.server timeout!");
}

// A reply is looked at before the time-out, and after the process was held up (stopped, the PC
// suspended) once the network layer has handed over what came meanwhile.
TEST(AwaitReply, AReplyThatArrivedIsNoTimeOut) {
    struct Row {
        const char* what;
        std::int64_t heldUpMs;
        bool completeBeforeTheTick;
        bool completeAfterIt;
    };
    const Row rows[] = {
        {"complete on the time-out tick", 0, true, false},
        {"handed over after a stop of 40 s", 40'000, false, true},
        {"none after a stop of 40 s", 40'000, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EngineHarness h;
        h.clock.setWall(2024, 3, 5, 7, 4, 10, 0);
        const std::int64_t deadline = h.clock.monotonicMs() + 30'000;  // at 7:04:40
        request(h, kEvent);
        h.line->written.clear();
        h.clock.advanceMs(row.heldUpMs);
        while (h.clock.monotonicMs() < deadline) h.tick();
        const std::string body = "Doch\xE1zka zaps\xE1na\r\n---OK---\r\nJan Nov\xE1k\r\n";
        if (row.completeBeforeTheTick) h.http.complete(body);
        h.tick();
        if (row.completeAfterIt) h.http.complete(body);
        h.tick();
        const bool answered = row.completeBeforeTheTick || row.completeAfterIt;
        EXPECT_FALSE(h.engine->status().requestUnderWay);
        EXPECT_EQ(h.sentCodes(), answered ? std::vector<int>{6} : std::vector<int>{});
        EXPECT_EQ(h.fields.text(Field::stavprac),
                  answered ? "Jan Nov\xE1k" : "Doch.server timeout!");
        EXPECT_FALSE(std::filesystem::exists(h.workDir / "get.txt"));
    }
}

TEST(AwaitReply, RefusedDownloadCountsAsNotIssuedAndSaysSo) {
    EngineHarness h;
    h.http.setRefusal(std::string("bad address"));
    h.unitSends(kEvent);
    h.ticks(3);
    EXPECT_FALSE(h.engine->status().requestUnderWay);
    EXPECT_NE(h.fields.text(Field::urls).find("bad address"), std::string::npos);
    EXPECT_NE(h.fields.text(Field::urls).find(kEventUrl), std::string::npos);
    EXPECT_EQ(h.fields.text(Field::stavprac),
              "Po\x9E"
              "adavek neodesl\xE1n!");
    h.http.setRefusal(std::nullopt);
    h.unitSends(kEvent);
    h.ticks(3);
    EXPECT_TRUE(h.engine->status().requestUnderWay);
    EXPECT_EQ(h.http.calls().size(), 2u);
}

}  // namespace
}  // namespace kv::test
