#include <gtest/gtest.h>

#include "support/EngineHarness.h"

// The operations the window's buttons call, run on the engine alone: no window is needed.
namespace kv::test {
namespace {

TEST(Operations, RecalculationIsRefusedWhileARequestIsOutstandingAndStartResetsIt) {
    EngineHarness h;
    ASSERT_EQ(h.engine->recalculate(), OperationResult::done);
    EXPECT_EQ(h.engine->state().requestKind, RequestKind::Recalculation);
    EXPECT_EQ(h.engine->recalculate(), OperationResult::requestUnderWay);
    EXPECT_EQ(h.http.calls().size(), 1u);

    // No port chosen: refused, and the running communication with its request goes on.
    EXPECT_FALSE(h.engine->startCommunication(0, 12));
    EXPECT_EQ(h.engine->state().serverPhase, ServerPhase::Issued);
    EXPECT_EQ(h.engine->state().requestKind, RequestKind::Recalculation);
    EXPECT_EQ(h.engine->state().companyId, 0);
    EXPECT_EQ(h.engine->commState(), CommState::running);
    EXPECT_TRUE(h.com->Opened());
    // A start on a port resets the request and takes the company over, unless none is given.
    EXPECT_TRUE(h.engine->startCommunication(1, 12));
    EXPECT_EQ(h.engine->state().requestKind, RequestKind::None);
    EXPECT_EQ(h.engine->state().companyId, 12);
    EXPECT_TRUE(h.engine->startCommunication(1, std::nullopt));
    EXPECT_EQ(h.engine->state().companyId, 12) << "no company id given: the last one stays";
    // Stopped: refused, so no reply is waited for by ticks that do not run.
    h.engine->stopCommunication();
    EXPECT_EQ(h.engine->recalculate(), OperationResult::communicationStopped);
    EXPECT_EQ(h.http.calls().size(), 1u);
}

// A command while the port is lost: refused with the reason, and no frame code shown as sent.
TEST(Operations, ACommandThePortDidNotTakeIsRefusedAndShowsNoFrameCode) {
    EngineHarness h;
    QObject::connect(h.com.get(), &TQCCom32::deviceLost, [&h] { h.engine->portLost(); });
    h.line->lostCause = "Input/output error";
    h.line->failingNames.insert(portDeviceName(1));
    h.tick();
    ASSERT_EQ(h.engine->commState(), CommState::portLost);
    h.line->written.clear();
    for (ToUnit code : {ToUnit::SetClock, ToUnit::ChipNumberRequest, ToUnit::TablesChanged,
                        ToUnit::StatisticsRequest}) {
        h.fields.setText(Field::statpc, "11");
        EXPECT_EQ(h.engine->command(code), OperationResult::notSent) << int(code);
        EXPECT_EQ(h.fields.text(Field::statpc), "11");
    }
    EXPECT_EQ(h.line->written, "");
}

TEST(Operations, FictitiousEventsAreNumberedFromOneAndEndWithTheStatisticsRequest) {
    EngineHarness h;
    h.fields.setText(Field::fiktud, "3");
    h.engine->sendFictitiousEvents(3);
    EXPECT_EQ(h.sentCodes(), (std::vector<int>{10, 10, 10, 8}));
    const CommandFrame third = h.sentFrames()[2];
    for (int n = 3; n <= 6; ++n) EXPECT_EQ(third[n], 3) << n;
    EXPECT_EQ(h.fields.text(Field::fiktud), "0");
    EXPECT_EQ(h.engine->state().slowFrameCounter, 0);
}

}  // namespace
}  // namespace kv::test
