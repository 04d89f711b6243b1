// Tick-exact tests of reception, dispatch and the wait for the web reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "link/Errors.h"
#include "link/EventFields.h"
#include "support/EngineHarness.h"

namespace kv::test {
namespace {

// The unit sends 'Z' and the frame's 16 bytes at 2400 baud from atMs; when given, sent decides at
// the marker's time whether it sends the frame at all.
void unitSendsAtLineSpeed(EngineHarness& h, const CommandFrame& frame, std::int64_t atMs,
                          std::function<bool()> sent = nullptr) {
    const std::string bytes = "Z" + frameText(frame);
    const auto decided = std::make_shared<bool>(true);
    auto& arrivals = h.line->arrivals;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        FakeSerialLine::Arrival a{atMs + std::int64_t(i) * 25 / 6, bytes.substr(i, 1)};
        if (sent && i == 0) a.sent = [decided, sent] { return *decided = sent(); };
        if (sent && i > 0) a.sent = [decided] { return *decided; };
        const auto at = std::upper_bound(arrivals.begin(), arrivals.end(), a.atMs,
                                         [](std::int64_t t, const auto& b) { return t < b.atMs; });
        arrivals.insert(at, std::move(a));
    }
}

TEST(Reception, FrameIsReadTwoTicksAfterItsMarkerAndNoiseIsDropped) {
    EngineHarness h;
    h.unitSends(kEvent, "xy");
    h.tick();  // marker found
    h.tick();
    EXPECT_TRUE(h.http.calls().empty());
    h.tick();  // read and dispatched
    ASSERT_EQ(h.http.calls().size(), 1u);
    EXPECT_EQ(h.http.calls()[0].url, kEventUrl);
    EXPECT_EQ(h.fields.text(Field::statrj), "2");
    EXPECT_EQ(h.fields.text(Field::stavdatum), "5.3.2024 7:4:9");
    EXPECT_EQ(h.fields.text(Field::urls), kEventUrl);
    EXPECT_TRUE(h.engine->status().requestUnderWay);
}

TEST(Reception, FrameSplitAcrossTicksIsReassembled) {
    EngineHarness h;
    const std::string text = frameText(kEvent);
    h.line->input = "Z" + text.substr(0, 10);
    h.line->arrivals.push_back({h.clock.monotonicMs() + 150, text.substr(10)});
    // Taken by the third tick, read once the line has been quiet for a tick behind it.
    h.ticks(4);
    ASSERT_EQ(h.http.calls().size(), 1u);
    EXPECT_EQ(h.http.calls()[0].url, kEventUrl);
}

TEST(Reception, TailArrivingDuringTheReadIsTakenOnceTheLineIsQuietBehindIt) {
    EngineHarness h;
    const std::string text = frameText(kEvent);
    h.line->input = "Z" + text.substr(0, 10);
    h.ticks(2);
    // Between two ticks: read as it arrives, sent the moment the line has been quiet behind it.
    const auto arrival = h.clock.monotonicMs() + 1550;
    h.line->arrivals.push_back({arrival, text.substr(10)});
    std::optional<std::int64_t> sentAt;
    h.engine->view().setStatusListener([&](const BridgeStatus& s) {
        if (s.requestUnderWay && !sentAt) sentAt = h.clock.monotonicMs();
    });
    h.ticks(20);
    EXPECT_EQ(h.http.calls().size(), 1u);
    EXPECT_EQ(sentAt, arrival + UnitFrameReader::kQuietMs);
}

// Stop while a frame is still arriving: nothing is due until the next Start, nothing spins.
TEST(Reception, StopWhileAFrameArrivesLeavesNothingDue) {
    EngineHarness h;
    h.line->input = "Z" + frameText(kEvent).substr(0, 10);
    h.ticks(3);
    ASSERT_TRUE(h.engine->wakeDueMs());
    h.engine->stopCommunication();
    EXPECT_EQ(h.engine->wakeDueMs(), std::nullopt);
}

// A frame whose tail never comes is dropped at the start of the third clock second after its
// read began, on an open port as on one closed meanwhile, and nothing is dispatched.
TEST(Reception, ShortFrameTimesOutToZerosAndIsNotDispatched) {
    for (const bool closed : {false, true}) {
        SCOPED_TRACE(closed);
        EngineHarness h;
        h.clock.setWall(2024, 3, 5, 7, 4, 9, 400);
        h.line->input = "Z" + frameText(kEvent).substr(0, 10);
        h.ticks(2);
        if (closed) h.com->Close();
        // What an earlier frame left, for the frames built after the drop to show.
        EngineProbe::frame(*h.engine) = frameOf({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
        const auto before = h.clock.monotonicMs();
        // Read on until then: the bridge is asked to wake the engine for it.
        do h.tick();
        while (h.engine->wakeDueMs() && h.clock.monotonicMs() - before < 5000);
        const auto waited = h.clock.monotonicMs() - before;
        EXPECT_GE(waited, 2000);  // to the start of the third clock second
        EXPECT_LE(waited, 3100);
        EXPECT_TRUE(h.http.calls().empty());
        EXPECT_EQ(h.fields.text(Field::statrj), "??");
        if (closed) continue;
        // A frame sent next carries zeros past its time, not the dropped frame's bytes.
        h.line->written.clear();
        h.engine->command(ToUnit::setClock);
        ASSERT_EQ(h.sentFrames().size(), 1u);
        for (int i = 9; i < 16; ++i) EXPECT_EQ(h.sentFrames()[0][i], 0) << i;
        // The next bytes start a new search.
        h.unitSends(frameOf({9}));
        h.ticks(3);
        EXPECT_EQ(h.fields.text(Field::statrj), "9");
    }
}

TEST(Reception, BackToBackFramesAreBothDispatched) {
    EngineHarness h;
    const CommandFrame stats = frameOf({3, 0, 1, 2, 3, 0xFF, 0, 2, 4, 4, 0xAC, 3, 0x62, 2});
    const CommandFrame other = frameOf({9, 0x5A, 0x5A});  // data bytes 'Z' are no markers
    h.unitSends(stats);
    h.unitSends(other);
    h.ticks(3);
    EXPECT_EQ(h.fields.text(Field::statrj), "3");
    EXPECT_EQ(h.fields.text(Field::statsubj), "20");
    h.ticks(3);
    EXPECT_EQ(h.fields.text(Field::statrj), "9");
}

// The unit sent events 11, damaged, and 12 within the read's wait: only 12 is acted on.
TEST(Reception, ADamagedFrameIsDroppedAndTheFrameBehindItDispatched) {
    EngineHarness h;
    const CommandFrame card = frameOf({5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 23, 59, 58, 31, 12, 99});
    h.line->input = "Z" + frameText(kEvent).erase(4, 1);
    h.ticks(2);
    h.line->arrivals.push_back({h.clock.monotonicMs() + 1000, "Z" + frameText(card)});
    h.ticks(12);
    ASSERT_EQ(h.http.calls().size(), 1u);
    EXPECT_NE(h.http.calls()[0].url.find("prikaz=6&karta=060504030201"), std::string::npos);
    EXPECT_EQ(h.fields.text(Field::statrj), "5");
    h.ticks(40);
    EXPECT_EQ(h.http.calls().size(), 1u);
}

TEST(Reception, PurgeDiscardsBytesKeptBehindAFrame) {
    EngineHarness h;
    h.unitSends(frameOf({9}));
    h.unitSends(frameOf({8}));
    h.ticks(3);
    EXPECT_EQ(h.fields.text(Field::statrj), "9");
    EngineProbe::purgeInput(*h.engine);
    h.ticks(6);
    EXPECT_EQ(h.fields.text(Field::statrj), "9");
}

// The unit sent event 259 right behind event 258, whose reply came while 259's marker settled.
TEST(Reception, AReplyPurgesThePortButNotAFrameWhoseMarkerWasSeen) {
    EngineHarness h;
    request(h, kEvent);
    CommandFrame next = kEvent;
    event::setIndex(next, 259);
    h.unitSends(next);
    h.http.complete("Docházka zapsána do databáze\n---OK---\nJan Novák\n");
    h.tick();  // the marker found, the reply processed and the port purged
    EXPECT_EQ(h.line->purges, 1);
    h.ticks(2);
    ASSERT_EQ(h.http.calls().size(), 2u);
    EXPECT_NE(h.http.calls()[1].url.find("indexza=259&"), std::string::npos);
}

// A table download holds the tick; what the unit sent meanwhile goes with the port's queues,
// but the log keeps it.
TEST(Reception, InputPurgedAfterAReplyIsLoggedWithItsBytes) {
    static QStringList* logged = nullptr;
    QStringList lines;
    logged = &lines;
    const QtMessageHandler before = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { logged->append(text); });
    EngineHarness h;
    request(h, frameOf({1}));
    h.unitSends(kEvent);
    h.http.complete("1|000000000001|0800|1|0\n-------\n");
    EngineProbe::awaitReply(*h.engine);
    EngineProbe::processReply(*h.engine);
    h.untilRunEnds();
    qInstallMessageHandler(before);
    EXPECT_TRUE(h.line->input.empty());
    EXPECT_TRUE(lines.filter("dropped after a reply")
                    .join("")
                    .contains(QString::fromStdString(hexDump("Z" + frameText(kEvent)))))
        << lines.join("\n").toStdString();
}

// The answer frame does not say which identification it answers: once the unit has sent
// another one, it would take the late answer for that one's.
TEST(Reception, AnAnswerGoesOnlyToTheIdentificationItAnswers) {
    CommandFrame next = kEvent;
    event::setIndex(next, 259);
    const CommandFrame card = frameOf({5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 23, 59, 58, 31, 12, 99});
    const CommandFrame stats = frameOf({3, 0, 1, 2, 3, 0xFF, 0, 2, 4, 4, 0xAC, 3, 0x62, 2});
    struct Row {
        const char* what;
        std::vector<CommandFrame> meanwhile;  // read while the request runs
        bool answered;
    };
    const Row rows[] = {
        {"nothing", {}, true},
        {"the same event repeated", {kEvent}, true},
        {"statistics", {stats}, true},
        {"the next event", {next}, false},
        {"a card event", {stats, card}, false},
        {"an impossible event", {frameOf({2, 1, 3, 3, 4, 5, 25})}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EngineHarness h;
        request(h, kEvent);
        for (const CommandFrame& f : row.meanwhile) {
            h.unitSends(f);
            h.ticks(3);
        }
        reply(h, "Docházka zapsána do databáze\n---OK---\nJan Novák\n");
        EXPECT_EQ(h.sentCodes(), row.answered ? std::vector<int>{6} : std::vector<int>{});
        EXPECT_EQ(h.engine->status().forwarded, 1u);
        // The unit repeats what it got no answer for, and that is recorded.
        if (!row.answered) request(h, row.meanwhile.back());
    }
}

// The process was held up while the unit sent an identification, repeated it three times and
// went on to the next: all of it arrives in one read.
TEST(Reception, CopiesQueuedDuringAStallAreOneIdentificationAnsweredOnce) {
    EngineHarness h;
    CommandFrame next = kEvent;
    event::setIndex(next, 259);
    const std::string copy = "Z" + frameText(kEvent);
    h.line->input = copy + copy + copy + copy + "Z" + frameText(next);
    h.ticks(3);
    ASSERT_EQ(h.http.calls().size(), 1u);
    reply(h, "Docházka zapsána do databáze\n---OK---\nJan Novák\n");
    EXPECT_EQ(h.sentCodes(), std::vector<int>{}) << "the unit waits for the next one's answer";
    for (int i = 0; i < 30 && h.http.calls().size() < 2; ++i) h.tick();
    ASSERT_EQ(h.http.calls().size(), 2u) << "the copies are not forwarded";
    EXPECT_NE(h.http.calls()[1].url.find("indexza=259&"), std::string::npos);
    reply(h, "Docházka zapsána do databáze\n---OK---\nEva Mala\n");
    const std::vector<CommandFrame> answers = h.sentFrames();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(std::string(answers[0].bytes.begin() + 1, answers[0].bytes.end()), "Eva Mala       ");
    EXPECT_EQ(h.engine->status().identifications, 2u);
    EXPECT_EQ(h.engine->status().eventRequests, 2u);
}

// A copy that comes after the answer went out is the unit not having heard it: it gets the
// verdict already given, without a second request (the server would record it twice), as long
// as the unit could still be repeating it and no other identification has come since.  A copy
// of one the server gave no verdict is asked again.
TEST(Reception, ALaterCopyGetsTheVerdictGivenWithoutASecondRequest) {
    CommandFrame other = kEvent;
    event::setIndex(other, 300);
    const std::string ok = "Doch\xE1zka zaps\xE1na\n---OK---\nJan Nov\xE1k\n";
    const std::string refused = "Doch\xE1zka nezaps\xE1na\n---Err--\nNezn\xE1m\xFD k\xF3\x64\n";
    enum Between { nothing, otherIdentification, stopStart, elevenMinutes };
    const struct {
        const char* what;
        std::string verdict;  // empty: a 500
        Between between;
        bool replayed;
    } rows[] = {
        {"accepted", ok, nothing, true},
        {"refused", refused, nothing, true},
        {"after Stop and Start", ok, stopStart, true},
        {"no verdict", "", nothing, false},
        {"another identification since", ok, otherIdentification, false},
        {"too late to be a repeat", ok, elevenMinutes, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EngineHarness h;
        request(h, kEvent);
        if (row.verdict.empty()) {
            h.http.complete("", 500);
            h.tick();
        } else {
            reply(h, row.verdict);
        }
        if (row.between == otherIdentification) {
            h.unitSends(other);
            h.ticks(3);
            reply(h, ok);
        }
        if (row.between == stopStart) {
            h.engine->stopCommunication();
            ASSERT_TRUE(h.engine->startCommunication(1, 0));
        }
        if (row.between == elevenMinutes) h.clock.advanceMs(11 * 60'000);
        const std::size_t requests = h.http.calls().size();
        h.line->written.clear();
        h.unitSends(kEvent);
        h.ticks(3);
        EXPECT_EQ(h.http.calls().size(), requests + (row.replayed ? 0 : 1));
        EXPECT_EQ(h.engine->status().replayed, row.replayed ? 1u : 0u);
        if (!row.replayed) continue;
        ASSERT_EQ(h.sentCodes(), row.verdict == ok ? std::vector<int>{6} : std::vector<int>{});
        if (row.verdict == ok) {
            EXPECT_EQ(frameText(h.sentFrames()[0]).substr(1), "Jan Novak      ");
        }
        const auto notes = statusWords(h.engine->status(), 0).notes;
        EXPECT_EQ(
            std::count(notes.begin(), notes.end(), "Odpovědi zopakované bez nového požadavku: 1"),
            1);
    }
}

// The unit sends a copy when it has heard no answer within its own time.  A copy begun while
// the answer was still on the line crossed it: it is the unit's repeat, neither forwarded nor
// answered (its answer would reach the unit waiting for the next identification).  A copy begun
// after the answer had left is the unit not having heard it: answered again, without a request.
TEST(Reception, ACopyBegunBeforeTheAnswerLeftIsDroppedALaterOneAnsweredAgain) {
    const struct {
        const char* what;
        std::int64_t markerMs;  // from the moment the answer has left
        bool replayed;
    } rows[] = {{"marker before the answer has left", -10, false}, {"marker after", 10, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EngineHarness h;
        h.line->bytesPerSecond = 240;
        request(h, kEvent);
        // The answer goes out at the next tick and has left 19 bytes later.
        unitSendsAtLineSpeed(h, kEvent, h.clock.monotonicMs() + 80 + row.markerMs);
        reply(h, "Doch\xE1zka zaps\xE1na do datab\xE1ze\n---OK---\nJan Nov\xE1k\n");
        h.ticks(5);
        EXPECT_EQ(h.http.calls().size(), 1u);
        EXPECT_EQ(h.sentCodes().size(), row.replayed ? 2u : 1u);
        EXPECT_EQ(h.engine->status().replayed, row.replayed ? 1u : 0u);
    }
}

// Identifications one after another, the server answering each near the unit's time for an
// answer and the bytes at 2400 baud both ways: each is recorded once, and the unit hears no
// answer but the one to what it sent.
TEST(Reception, CopiesAroundTheUnitsTimeGiveNoWrongAnswerAndNoSecondRecord) {
    constexpr int kIdentifications = 200;
    constexpr std::int64_t kUnitWaitsMs = 5'000;
    EngineHarness h;
    h.line->bytesPerSecond = 240;
    int awaiting = 0, next = 1, answered = 0, wrong = 0, stray = 0, copies = 0;
    std::int64_t answeredAtMs = 0, scheduledAfterMs = 0;
    std::size_t heard = 0;
    const auto nameOf = [](int k) { return "Prac " + std::to_string(k) + " "; };
    // The unit hears the frames that have left the line by now: an answer is taken as the one
    // to the identification it waits for.
    const auto hear = [&] {
        const auto& out = h.line->framesOutAtMs;
        for (; heard < out.size() && out[heard] <= h.clock.monotonicMs(); ++heard) {
            const std::string f = h.line->written.substr(heard * 19 + 3, 16);
            if (f[0] != 6) continue;
            if (awaiting == 0) {
                ++stray;
                continue;
            }
            wrong += f.compare(1, nameOf(awaiting).size(), nameOf(awaiting)) != 0;
            ++answered;
            awaiting = 0;
            answeredAtMs = out[heard];
        }
    };
    // Sent at atMs, and the same bytes again every 5 s while no answer was heard.
    const auto send = [&](int k, std::int64_t atMs) {
        CommandFrame f = kEvent;
        event::setIndex(f, std::uint16_t(k));
        unitSendsAtLineSpeed(h, f, atMs, [&, k] { return hear(), awaiting = k, true; });
        for (int copy = 1; copy <= 6; ++copy)
            unitSendsAtLineSpeed(h, f, atMs + copy * kUnitWaitsMs, [&, k] {
                hear();
                return awaiting == k && ++copies;
            });
    };
    std::map<int, int> records;
    std::size_t requests = 0;
    int replyFor = 0;
    std::int64_t replyAtMs = 0;
    send(next++, h.clock.monotonicMs() + 100);
    for (int t = 0; t < kIdentifications * 150 && answered < kIdentifications; ++t) {
        h.tick();
        hear();
        if (h.http.calls().size() > requests) {
            requests = h.http.calls().size();
            const std::string& url = h.http.calls().back().url;
            replyFor = std::stoi(url.substr(url.find("indexza=") + 8));
            ++records[replyFor];
            // From 4.5 to 5.2 s after the request, which leaves 0.2 to 0.3 s after the marker.
            replyAtMs = h.clock.monotonicMs() + 4'500 + (replyFor * 37) % 700;
        }
        if (replyFor && h.clock.monotonicMs() >= replyAtMs) {
            h.http.complete("Doch\xE1zka zaps\xE1na\n---OK---\n" + nameOf(replyFor) + "\n");
            replyFor = 0;
        }
        if (!awaiting && answeredAtMs != scheduledAfterMs && next <= kIdentifications) {
            scheduledAfterMs = answeredAtMs;
            send(next++, answeredAtMs + 300);
        }
    }
    h.ticks(150);  // the unit's last copies, and any late answer
    hear();
    int duplicates = 0;
    for (const auto& [k, n] : records) duplicates += n - 1;
    EXPECT_EQ(answered, kIdentifications);
    EXPECT_EQ(records.size(), std::size_t(kIdentifications));
    EXPECT_EQ(wrong + stray, 0) << wrong << " wrong, " << stray << " while none was awaited";
    EXPECT_EQ(duplicates, 0);
    EXPECT_GT(copies, kIdentifications / 4) << "the server's pace makes the unit send copies";
}

TEST(Reception, WhileARequestIsOutstandingOnlyFramesNeedingNoRequestAreActedOn) {
    EngineHarness h;
    h.unitSends(kEvent);
    h.ticks(3);
    ASSERT_EQ(h.http.calls().size(), 1u);
    const CommandFrame tables = frameOf({1});
    h.unitSends(tables);
    h.ticks(3);
    EXPECT_EQ(h.http.calls().size(), 1u);
    EXPECT_EQ(h.fields.text(Field::statrj), "2");
    h.unitSends(frameOf({3, 0, 1, 2, 3, 0xFF, 0, 2, 4, 4, 0xAC, 3, 0x62, 2}));
    h.unitSends(frameOf({4, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    h.ticks(6);
    EXPECT_EQ(h.fields.text(Field::statsubj), "20");
    EXPECT_EQ(h.fields.text(Field::stavcip), "001A2B3C4D5E");
    EXPECT_EQ(h.fields.text(Field::statrj), "4");
    EXPECT_EQ(h.http.calls().size(), 1u);
}

TEST(Reception, NoiseWithoutMarkerDoesNotHoldTheTick) {
    EngineHarness h;
    h.line->input = std::string(500, 'x');
    const auto before = h.clock.monotonicMs();
    h.tick();
    EXPECT_EQ(h.clock.monotonicMs() - before, 100);
    EXPECT_TRUE(h.line->input.empty());
}

TEST(Dispatch, EachFrameCodeGetsItsRequestOrLocalAction) {
    struct Row {
        const char* name;
        CommandFrame frame;
        std::string url;  // empty: no request
    };
    const Row rows[] = {
        {"tables", frameOf({1}), kBase + "?prikaz=1&httphost=127.0.0.1"},
        {"card", frameOf({5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 23, 59, 58, 31, 12, 99}),
         kBase + "?prikaz=6&karta=060504030201&kod=7&typpr=8&misto=9&datum=2099-12-31%2023:59:58"
                 "&httphost=127.0.0.1"},
        {"clock_report", frameOf({6, 1, 24, 3, 5, 7, 4}),
         kBase + "?prikaz=7&rok=1&mes=24&den=3&hod=5&min=7&sec=4&httphost=127.0.0.1"},
        {"clock_byte_0", frameOf({6, 0, 24}), ""},
        {"clock_byte_2", frameOf({6, 2, 24}), ""},
        {"unknown_9", frameOf({9, 1}), ""},
        {"zero", frameOf({0, 1}), ""},
        // Dates and times no clock shows: noise shaped like an event is not recorded.
        {"event_hour_24", frameOf({2, 1, 2, 3, 4, 5, 24, 4, 9, 5, 3, 24}), ""},
        {"event_minute_60", frameOf({2, 1, 2, 3, 4, 5, 7, 60, 9, 5, 3, 24}), ""},
        {"event_second_61", frameOf({2, 1, 2, 3, 4, 5, 7, 4, 61, 5, 3, 24}), ""},
        {"event_day_32", frameOf({2, 1, 2, 3, 4, 5, 7, 4, 9, 32, 3, 24}), ""},
        {"event_month_13", frameOf({2, 1, 2, 3, 4, 5, 7, 4, 9, 5, 13, 24}), ""},
        // What a clock's fields hold is the unit's, also from a clock never set.
        {"event_clock_not_set", frameOf({2, 1, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0}),
         kBase + "?prikaz=2&indexza=258&kod=3&typpr=4&misto=5&datum=2000-0-0%200:0:0"
                 "&httphost=127.0.0.1"},
        {"event_30_february", frameOf({2, 1, 2, 3, 4, 5, 7, 4, 9, 30, 2, 24}),
         kBase + "?prikaz=2&indexza=258&kod=3&typpr=4&misto=5&datum=2024-2-30%207:4:9"
                 "&httphost=127.0.0.1"},
        {"event_29_february_2024", frameOf({2, 1, 2, 3, 4, 5, 7, 4, 9, 29, 2, 24}),
         kBase + "?prikaz=2&indexza=258&kod=3&typpr=4&misto=5&datum=2024-2-29%207:4:9"
                 "&httphost=127.0.0.1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EngineHarness h;
        h.unitSends(row.frame);
        h.ticks(3);
        if (row.url.empty()) {
            EXPECT_TRUE(h.http.calls().empty());
        } else {
            ASSERT_EQ(h.http.calls().size(), 1u);
            EXPECT_EQ(h.http.calls()[0].url, row.url);
        }
        EXPECT_EQ(h.fields.text(Field::statrj), std::to_string(row.frame.code()));
        // An impossible date is held back once: noise never comes twice byte for byte, and a
        // unit whose clock is wrong is not silenced for ever.
        if (row.url.empty() && row.frame.code() == 2) {
            h.unitSends(row.frame);
            h.ticks(3);
            EXPECT_EQ(h.http.calls().size(), 1u) << "its identical repeat is forwarded";
        }
    }
}

TEST(Dispatch, CardEventClearsTheNameRequestAndTablesStopTheRepetition) {
    EngineHarness h;
    EngineProbe::setNameRequested(*h.engine, 1);  // as an event that wanted the name left it
    h.tables().announce();
    h.tables().step();  // told once, its repetition due
    h.unitSends(frameOf({5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 23, 59, 58, 31, 12, 99}));
    h.ticks(3);
    EXPECT_EQ(h.fields.text(Field::stavdatum), "31.12.2099 23:59:58");
    reply(h, "---OK---\nJan Novak\nsome more text\n");
    ASSERT_EQ(h.sentFrames().size(), 1u);
    EXPECT_EQ(frameText(h.sentFrames()[0]).find("Nov"), std::string::npos) << "no name asked";
    h.unitSends(frameOf({1}));
    h.ticks(3);
    EXPECT_EQ(h.ticksUntilTablesAnnounced(200), std::nullopt);
}

TEST(Dispatch, ChipNumberIsShownAndWrittenToTheChipFiles) {
    EngineHarness h;
    std::filesystem::create_directories(h.driveC / "apache");
    std::ofstream(h.driveC / "apache" / "xampp-control.exe") << "x";
    h.fields.setText(Field::statram, "32 kB");
    h.unitSends(frameOf({4, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0, 100, 0, 45, 1, 0, 5, 7, 8}));
    h.ticks(3);
    EXPECT_EQ(h.fields.text(Field::stavcip), "001A2B3C4D5E");
    const auto read = [](const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(h.driveC / "lastid"), "001A2B3C4D5E\r\n");
    EXPECT_EQ(read(h.driveC / "apache" / "lastid"), "001A2B3C4D5E\r\n");
    EXPECT_EQ(h.fields.text(Field::statram), "32 kB");  // size code 5 leaves it
    EXPECT_EQ(h.fields.text(Field::statneterr), "7");
    EXPECT_EQ(h.fields.text(Field::statlost), "8");
    EXPECT_EQ(h.fields.text(Field::statud), "5");       // (100 - 45) / 11
    EXPECT_EQ(h.fields.text(Field::statfreeid), "14");  // (256 - 100) / 11 = 14.18
}

TEST(Dispatch, ChipFileThatCannotBeWrittenEndsTheTickWithAnError) {
    EngineHarness h;
    std::filesystem::create_directories(h.driveC / "lastid");  // a folder in the file's place
    h.unitSends(frameOf({4, 1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 9}));
    h.ticks(2);
    EXPECT_THROW(h.engine->tick(), HandlerError);
    EXPECT_EQ(h.fields.text(Field::stavcip), "010203040506");
    EXPECT_EQ(h.fields.text(Field::statneterr), "??");  // the rest of the tick was skipped
    h.tick();                                           // and the next tick runs normally
}

TEST(PeriodicPoll, GoesOutOnThe2661stIdleTickWithTheTimeWhenAsked) {
    for (bool cas5min : {false, true}) {
        SCOPED_TRACE(cas5min);
        EngineHarness h;
        h.setOption(&TerminalConfig::cas5min, cas5min);
        h.ticks(2660);
        EXPECT_TRUE(h.http.calls().empty());
        h.tick();
        ASSERT_EQ(h.http.calls().size(), 1u);
        EXPECT_EQ(h.http.calls()[0].url, kBase + "?prikaz=4&httphost=127.0.0.1");
        EXPECT_EQ(h.sentCodes(), cas5min ? std::vector<int>{1} : std::vector<int>{});
    }
}

TEST(PeriodicPoll, SkippedWhenBytesArriveDuringTheTick) {
    EngineHarness h;
    h.setIdleTicks(2660);
    EngineProbe::countIdle(*h.engine);
    h.line->input = "x";
    EngineProbe::periodicStep(*h.engine);
    EXPECT_TRUE(h.http.calls().empty());
    h.line->input.clear();
    h.ticks(2660);
    EXPECT_TRUE(h.http.calls().empty()) << "the idle count starts again";
    h.tick();
    EXPECT_EQ(h.http.calls().size(), 1u);
}

TEST(PeriodicPoll, IdleTicksDoNotCountWhileARequestRuns) {
    EngineHarness h;
    h.unitSends(kEvent);
    h.ticks(50);
    reply(h, "---OK---\nJan Novak\n");
    // Counted from the request's end, not from the frame before it.
    h.ticks(2660);
    EXPECT_EQ(h.http.calls().size(), 1u);
    h.tick();
    EXPECT_EQ(h.http.calls().size(), 2u);
}

}  // namespace
}  // namespace kv::test
