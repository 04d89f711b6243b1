// A device that goes away while an event is under way: its reply is still processed but nothing
// is sent or kept for the unit, the port is tried again until it opens, and communication
// resumes with a start frame; Stop ends the waiting.
#include <gtest/gtest.h>

#include "link/Cp1250.h"
#include "support/EngineHarness.h"
#include "sync/Reconnect.h"

namespace kv::test {
namespace {

TEST(Reconnect, ALostPortIsWaitedForWhileTheReplyIsProcessedAndResumesWithAStartFrame) {
    EngineHarness h;
    QTimer tick;
    Reconnect reconnect(*h.engine, *h.com, h.fields, tick);
    ASSERT_TRUE(h.engine->startCommunication(1, 0));
    h.unitSends(frameOf({2, 0, 7, 3, 4, 5, 7, 4, 9, 5, 3, 24, 1}));
    h.ticks(3);
    ASSERT_EQ(h.engine->state().requestKind, RequestKind::Event);

    h.line->lostCause = "Input/output error";
    h.line->failingNames.insert(portDeviceName(1));
    h.line->written.clear();
    h.tick();
    EXPECT_EQ(h.engine->commState(), CommState::portLost);
    EXPECT_TRUE(h.com->Lost());
    EXPECT_TRUE(reconnect.waiting());
    EXPECT_EQ(h.fields.text(Field::stavprac),
              cp1250(Reconnect::portText(1) + " ztracen, čekám na jeho návrat"));

    h.http.complete("---OK---\nJan Novak\n");
    h.ticks(2);
    EXPECT_EQ(h.engine->state().requestKind, RequestKind::None);
    EXPECT_TRUE(h.line->written.empty()) << "the answer is not kept for later";
    EXPECT_FALSE(reconnect.retryNow());

    h.line->failingNames.clear();
    h.line->lostCause.clear();
    ASSERT_TRUE(reconnect.retryNow());
    EXPECT_EQ(h.sentCodes(), std::vector<int>({11}));
    EXPECT_EQ(h.engine->commState(), CommState::running);
    EXPECT_FALSE(reconnect.waiting());
    EXPECT_TRUE(tick.isActive());

    // Lost again, then Stop: the waiting ends and nothing is opened.
    h.line->lostCause = "Input/output error";
    h.tick();
    ASSERT_TRUE(reconnect.waiting());
    h.line->lostCause.clear();
    h.engine->stopCommunication();
    const int opens = h.line->opens;
    EXPECT_FALSE(reconnect.retryNow());
    EXPECT_FALSE(reconnect.waiting());
    EXPECT_EQ(h.line->opens, opens);
}

}  // namespace
}  // namespace kv::test
