#include <gtest/gtest.h>

#include "link/Cp1250.h"
#include "link/PortErrorText.h"
#include "link/SerialDevice.h"
#include "support/EngineHarness.h"

// The operations the window's buttons call, run on the engine alone: no window is needed.
namespace kv::test {
namespace {

TEST(Operations, RecalculationIsRefusedWhileARequestIsOutstandingAndStartResetsIt) {
    EngineHarness h;
    ASSERT_EQ(h.engine->recalculate(), OperationResult::done);
    EXPECT_EQ(h.engine->recalculate(), OperationResult::requestUnderWay);
    EXPECT_EQ(h.http.calls().size(), 1u);

    // No port chosen: refused, and the running communication with its request goes on.
    EXPECT_FALSE(h.engine->startCommunication(0, 12));
    EXPECT_TRUE(h.engine->status().requestUnderWay);
    EXPECT_EQ(EngineProbe::companyId(*h.engine), 0);
    EXPECT_EQ(h.engine->status().state, CommState::running);
    EXPECT_TRUE(h.com->Opened());
    // A start on a port resets the request and takes the company over, unless none is given.
    EXPECT_TRUE(h.engine->startCommunication(1, 12));
    EXPECT_FALSE(h.engine->status().requestUnderWay);
    EXPECT_EQ(EngineProbe::companyId(*h.engine), 12);
    EXPECT_TRUE(h.engine->startCommunication(1, std::nullopt));
    EXPECT_EQ(EngineProbe::companyId(*h.engine), 12) << "no company id given: the last stays";
    // Stopped: the recalculation needs no unit; the server step takes its reply.
    h.engine->stopCommunication();
    ASSERT_EQ(h.engine->recalculate(), OperationResult::done);
    EXPECT_EQ(h.http.calls().size(), 2u);
    h.http.complete("");
    h.engine->serverStep();
    EXPECT_FALSE(h.engine->requestOutstanding());
    EXPECT_EQ(h.fields.text(Field::statpc), "99");
}

// A command while the port is lost: refused with the reason, and no frame code shown as sent.
TEST(Operations, ACommandThePortDidNotTakeIsRefusedAndShowsNoFrameCode) {
    EngineHarness h;
    QObject::connect(h.com.get(), &TQCCom32::deviceLost, [&h] { h.engine->portLost(); });
    h.line->lostCause = "Input/output error";
    h.line->failingNames.insert(portDeviceName(1));
    h.tick();
    ASSERT_EQ(h.engine->status().state, CommState::portLost);
    h.line->written.clear();
    for (ToUnit code : {ToUnit::setClock, ToUnit::chipNumberRequest, ToUnit::tablesChanged,
                        ToUnit::statisticsRequest}) {
        h.fields.setText(Field::statpc, "11");
        EXPECT_EQ(h.engine->command(code), OperationResult::notSent) << int(code);
        EXPECT_EQ(h.fields.text(Field::statpc), "11");
    }
    EXPECT_EQ(h.line->written, "");
}

// Start, a recovery of the server and Stop each leave one line in the history, and so does a
// run of fictitious events.
TEST(Operations, StartRecoveryStopAndFictitiousEventsLeaveAHistoryLine) {
    EngineHarness h;
    std::vector<std::string> history;
    h.engine->view().setHistoryListener([&](const HistoryEntry& e) { history.push_back(e.text); });
    ASSERT_TRUE(h.engine->startCommunication(1, 0));
    EngineProbe::setCommState(*h.engine, CommState::serverFailing, "Server neodpověděl do 30 s");
    request(h, kEvent);
    reply(h, "---OK---\nJan Nov\xE1k\n---------------------------\n");
    h.engine->sendFictitiousEvents(2);
    h.untilRunEnds();
    h.engine->stopCommunication();
    h.engine->stopCommunication();
    EXPECT_EQ(history,
              (std::vector<std::string>{
                  "Komunikace spuštěna – Port " + portLabel(1, portDeviceName(1)).toStdString(),
                  "Server opět odpovídá", "Jan Novák – předáno",
                  "Do RJ posláno 2 fiktivních událostí", "Komunikace zastavena"}));
}

// A question of the operator's unanswered for 5 s is told in stavprac and the history; nothing at
// all for 10 minutes since Start stands as a warning, which the first frame clears.  A unit that
// has spoken and then goes quiet for 5 minutes is asked for its statistics, and not answering
// is the same warning.
TEST(Operations, ASilentUnitIsToldAndItsFirstFrameClearsTheWarning) {
    EngineHarness h;
    std::vector<std::string> history;
    h.engine->view().setHistoryListener([&](const HistoryEntry& e) { history.push_back(e.text); });
    ASSERT_TRUE(h.engine->startCommunication(1, 0));
    h.clock.advanceMs(UnitWatch::kSilentMs - 200);
    h.tick();
    EXPECT_FALSE(h.engine->status().unitSilent);
    h.ticks(2);
    EXPECT_TRUE(h.engine->status().unitSilent);
    EXPECT_EQ(h.engine->status().tone, Tone::warning);
    EXPECT_EQ(history.back(), kUnitSilentText);

    const std::string notAnswering = "RJ neodpovídá – zkontrolujte port a kabel";
    ASSERT_EQ(h.engine->command(ToUnit::statisticsRequest), OperationResult::done);
    const auto whole = [&h] {
        return fromCp1250(h.engine->display()[Field::stavprac].whole).toStdString();
    };
    h.ticks(50);
    EXPECT_NE(whole(), notAnswering);
    h.tick();
    // The narrow field has the short words, its tooltip the whole warning.
    EXPECT_EQ(fromCp1250(h.fields.text(Field::stavprac)).toStdString(), "RJ neodpovídá!");
    EXPECT_EQ(whole(), notAnswering);
    EXPECT_EQ(history.back(), notAnswering);
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{11, 8})) << "nothing new goes to the unit";

    h.unitSends(frameOf({3}));
    h.ticks(5);
    EXPECT_EQ(h.fields.tone(Field::stavprac), Tone::normal) << "it answers after all";
    EXPECT_FALSE(h.engine->status().unitSilent);
    EXPECT_EQ(h.engine->status().tone, Tone::normal);
    EXPECT_GT(h.engine->status().lastUnitFrameMs.value_or(0), h.clock.monotonicMs() - 500);
    // Answered in time, a question leaves only its own line.
    const std::size_t told = history.size();
    h.engine->command(ToUnit::chipNumberRequest);
    h.unitSends(frameOf({4}));
    h.ticks(100);
    EXPECT_EQ(history.size(), told + 1);
    EXPECT_EQ(history.back(), "Dotaz na číslo čipu odeslán do RJ");

    // Switched off after it spoke: quiet for 5 minutes, asked, and silent within seconds (the
    // notice follows a minute later: within 7 minutes of its last frame).
    h.line->written.clear();
    h.clock.advanceMs(5 * 60'000 - 10'000);
    h.tick();
    EXPECT_EQ(h.sentCodes(), std::vector<int>{}) << "quiet, but not for 5 minutes yet";
    h.clock.advanceMs(10'000);
    h.tick();
    EXPECT_EQ(h.sentCodes(), std::vector<int>{8});
    h.ticks(51);
    EXPECT_TRUE(h.engine->status().unitSilent);
    EXPECT_EQ(statusWords(h.engine->status(), 0).notes.front(), kUnitNotAnsweringText);
    EXPECT_EQ(history.back(), kUnitNotAnsweringText);
    h.clock.advanceMs(5 * 60'000);
    h.tick();
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{8, 8})) << "asked again while it stays silent";
    h.unitSends(frameOf({3}));
    h.ticks(5);
    EXPECT_FALSE(h.engine->status().unitSilent);

    // Asked, and the port lost before the answer: the port's failure, not the unit's silence.
    QObject::connect(h.com.get(), &TQCCom32::deviceLost, [&h] { h.engine->portLost(); });
    h.engine->command(ToUnit::statisticsRequest);
    h.line->lostCause = "Input/output error";
    h.ticks(100);
    ASSERT_EQ(h.engine->status().state, CommState::portLost);
    EXPECT_FALSE(h.engine->status().unitSilent);
}

}  // namespace
}  // namespace kv::test
