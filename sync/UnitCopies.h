#pragma once

#include <cstdint>
#include <optional>

#include "link/Clock.h"
#include "link/CommandFrame.h"
#include "link/TQCCom32.h"
#include "sync/Reception.h"
#include "sync/UnitLine.h"

namespace kv {

// The unit's copies of an identification.  The unit sends an identification again when it hears
// no answer within its own time, so a held-up bridge finds several copies of it queued: a copy
// whose first byte came before the answer had left the line was sent before the unit could hear
// it, and is neither forwarded (it would be recorded twice) nor answered (the answer would reach
// the unit while it waits for its next identification).  A copy begun later, with no other
// identification since and within the replay window, is the unit not having heard the answer:
// it gets the verdict already given again, without a second request.
class UnitCopies {
public:
    // How long the unit may still be repeating an identification whose answer it did not hear.
    static constexpr std::int64_t kReplayWindowMs = 600'000;

    UnitCopies(TQCCom32& com, Clock& clock, Reception& reception, UnitLine& line)
        : m_com(com), m_clock(clock), m_reception(reception), m_line(line) {}

    // An identification goes to the server: its copies are watched from now on.
    void forwarded(const CommandFrame& identification);
    // Its request is done with and no answer is on its way: what the reader has received up to
    // now came before the end.
    void settled();
    // The answer to the identification has been handed to the line (a verdict or its replay).
    void answerOnItsWay(const CommandFrame& identification);
    // Once the answer has left the line by its time model, what the reader has received up to
    // then came before the unit could have heard it.  Looked at before every read and at the
    // time lookDueMs gives.
    void look();
    std::optional<std::int64_t> lookDueMs() const;
    // The frame just read is a copy in flight: logged with its count, and true.
    bool inFlight(const CommandFrame& frame);

    // The verdict the server gave an identification, kept for the unit's later copies of it.
    struct Verdict {
        CommandFrame frame;   // the identification
        CommandFrame answer;  // FrameCode 6 as it went out (accepted only)
        Bytes shown;          // the server's text after the marker
        bool ok = false;
        std::int64_t atMs = 0;
    };
    // None: another identification came meanwhile, and the unit would take it for that one's.
    void keepVerdict(std::optional<Verdict> verdict) { m_verdict = std::move(verdict); }
    // The verdict to give again to this identification just read, if it is a later copy of the
    // one answered within the window; any other identification ends what may be given again.
    const Verdict* replayFor(const CommandFrame& frame);
    // True the first time an identification is read: its copies are the same one.
    bool firstRead(const CommandFrame& frame);

private:
    TQCCom32& m_com;
    Clock& m_clock;
    Reception& m_reception;
    UnitLine& m_line;
    // The identification last forwarded, and how far the reader had received when its answer
    // had left the line, or, when none went out, when its request was done with (none before).
    struct Forwarded {
        CommandFrame frame;
        std::optional<std::uint64_t> settledAt;
        std::uint32_t repeats = 0;
        // The answer on its way: its last byte's count on the line, when it was handed over and
        // when to look again whether it has left.
        std::optional<std::int64_t> answerEndsAt;
        std::int64_t answerSentMs = 0;
        std::int64_t answerLookMs = 0;
    };
    std::optional<Forwarded> m_forwarded;
    std::optional<Verdict> m_verdict;
    CommandFrame m_lastRead;  // the identification last read, repeats included
};

// An event (2) or a card event (5).
bool isIdentification(std::uint8_t code);

}  // namespace kv
