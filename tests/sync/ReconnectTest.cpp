// A device that goes away while an event is under way: its reply is still processed but nothing
// is sent or kept for the unit, the port is tried again until it opens, and communication
// resumes with a start frame; Stop ends the waiting.
#include <gtest/gtest.h>

#include <fstream>

#include "link/Cp1250.h"
#include "link/PortErrorText.h"
#include "link/PortProbe.h"
#include "support/EngineHarness.h"

namespace kv::test {
namespace {

TEST(Reconnect, ALostPortIsWaitedForWhileTheReplyIsProcessedAndResumesWithAStartFrame) {
    EngineHarness h;
    QObject::connect(h.com.get(), &TQCCom32::deviceLost, [&h] { h.engine->portLost(); });
    ASSERT_TRUE(h.engine->startCommunication(1, 0));
    h.unitSends(frameOf({2, 0, 7, 3, 4, 5, 7, 4, 9, 5, 3, 24, 1}));
    h.ticks(3);
    ASSERT_TRUE(h.engine->status().requestUnderWay);

    h.line->lostCause = "Input/output error";
    h.line->failingNames.insert(portDeviceName(1));
    h.line->written.clear();
    h.tick();
    EXPECT_EQ(h.engine->status().state, CommState::portLost);
    EXPECT_FALSE(h.com->Opened());
    // " (/dev/ttyS0)"; nothing on Windows, where the port's name is the device's.
    const std::string device = portLabel(1, portDeviceName(1)).toStdString().substr(4);
    // The narrow field has the words that say what happened; the status has the device too,
    // after them.
    EXPECT_EQ(h.fields.text(Field::stavprac), cp1250("Port COM1 ztracen"));
    EXPECT_EQ(h.fields.tone(Field::stavprac), Tone::failure);
    EXPECT_EQ(h.engine->status().cause, "Port COM1 ztracen, čekám na jeho návrat" + device);
    // A retry says why it still waits in the status; the narrow field keeps its short words.
    EXPECT_FALSE(h.engine->reopenPort());
    EXPECT_EQ(h.engine->status().cause, "Port COM1 není k dispozici, čekám na něj" + device);
    EXPECT_EQ(h.fields.text(Field::stavprac), cp1250("Port COM1 ztracen"));

    // The server fails meanwhile: the port's return will not end that.
    h.http.complete("Not Found", 404);
    h.ticks(2);
    EXPECT_FALSE(h.engine->status().requestUnderWay);
    EXPECT_TRUE(h.line->written.empty()) << "the answer is not kept for later";
    EXPECT_FALSE(h.engine->reopenPort());
    // Writes while it is lost (the tables announced, the clock frame) neither open the port nor
    // ask the operator: only the reconnect opens it, and nothing waits for a click.
    std::ofstream(h.driveC / "zamestnanci") << "1";
    h.ticks(3);
    h.engine->command(ToUnit::setClock);
    EXPECT_TRUE(h.prompts.shown.empty());
    EXPECT_EQ(h.engine->status().state, CommState::portLost);
    EXPECT_TRUE(h.line->written.empty());

    h.line->failingNames.clear();
    h.line->lostCause.clear();
    std::vector<CommState> states;
    h.engine->view().setStatusListener([&](const BridgeStatus& s) { states.push_back(s.state); });
    ASSERT_TRUE(h.engine->reopenPort());
    EXPECT_EQ(std::count(states.begin(), states.end(), CommState::running), 0)
        << "no moment of running for a notice to take for the server's recovery";
    EXPECT_EQ(h.sentCodes(), std::vector<int>({11}));
    EXPECT_EQ(h.engine->status().state, CommState::serverFailing);
    EXPECT_EQ(h.engine->status().cause, "Server vrátil chybu 404 Not Found – zkontrolujte adresu");
    // Good news is not painted as a failure, whatever its first words.
    EXPECT_EQ(h.fields.text(Field::stavprac), cp1250("Port COM1 je zpět"));
    EXPECT_EQ(h.fields.tone(Field::stavprac), Tone::normal);

    // Lost again, then Stop: the waiting ends and nothing is opened.
    h.line->lostCause = "Input/output error";
    h.tick();
    ASSERT_EQ(h.engine->status().state, CommState::portLost);
    h.line->lostCause.clear();
    h.engine->stopCommunication();
    EXPECT_EQ(h.fields.text(Field::stavprac), "Port COM1 ztracen") << "the text stays";
    EXPECT_EQ(h.fields.tone(Field::stavprac), Tone::normal) << "its tone goes with the failure";
    const int opens = h.line->opens;
    EXPECT_FALSE(h.engine->reopenPort());
    EXPECT_EQ(h.line->opens, opens);
}

// A pseudo-terminal named by its number does not come back once lost: the port has ended, and
// the operator is asked for another one in Porty?.
TEST(Reconnect, ALostBarePseudoTerminalHasEndedAndAnotherPortIsAskedFor) {
    if (!endsForGoodWhenLost("/dev/pts/77")) GTEST_SKIP() << "no pseudo-terminals here";
    qputenv("KVBRIDGE_COM1", "/dev/pts/77");
    struct Unset {
        ~Unset() { qunsetenv("KVBRIDGE_COM1"); }
    } unset;
    EngineHarness h;
    QObject::connect(h.com.get(), &TQCCom32::deviceLost, [&h] { h.engine->portLost(); });
    ASSERT_TRUE(h.engine->startCommunication(1, 0));
    h.line->lostCause = "Input/output error";
    h.tick();
    ASSERT_EQ(h.engine->status().state, CommState::portLost);
    EXPECT_EQ(h.engine->status().cause,
              "Port COM1 ztracen: virtuální port skončil, zvolte jiný port v Porty? (/dev/pts/77)");
}

// The port lost while the server answered: the field keeps the port's words, the history says
// the answer did not go out, and the unit's copy after the port's return gets the answer without
// the server recording the identification twice.
TEST(Reconnect, AnAnswerLostWithThePortIsGivenWhenTheCopyComesAndRecordedOnce) {
    EngineHarness h;
    QObject::connect(h.com.get(), &TQCCom32::deviceLost, [&h] { h.engine->portLost(); });
    std::vector<std::string> history;
    h.engine->view().setHistoryListener([&](const HistoryEntry& e) { history.push_back(e.text); });
    ASSERT_TRUE(h.engine->startCommunication(1, 0));
    request(h, kEvent);
    h.line->lostCause = "Input/output error";
    h.tick();
    ASSERT_EQ(h.engine->status().state, CommState::portLost);
    h.http.complete("---OK---\nJan Nov\xE1k\n# the stand-in's padding\n");
    h.tick();
    EXPECT_EQ(h.fields.text(Field::stavprac), cp1250("Port COM1 ztracen"));
    EXPECT_EQ(history.back(), "Jan Novák – předáno, odpověď do RJ neodeslána: port ztracen");

    h.line->lostCause.clear();
    ASSERT_TRUE(h.engine->reopenPort());
    h.line->written.clear();
    h.unitSends(kEvent);
    h.ticks(3);
    EXPECT_EQ(h.http.calls().size(), 1u) << "recorded once";
    ASSERT_EQ(h.sentCodes(), std::vector<int>{6});
    EXPECT_EQ(frameText(h.sentFrames()[0]).substr(1), "Jan Novak      ");
    EXPECT_EQ(h.engine->status().replayed, 1u);
    EXPECT_EQ(history.back(), "Jan Novák – odpověď do RJ zopakována");
}

}  // namespace
}  // namespace kv::test
