#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "link/CommandFrame.h"

namespace kv {

// Turns the bytes the unit sends into whole frames: 'Z' and the 16 frame bytes.  Bytes in,
// frames out; the caller looks at the port when it likes (the settle ticks, the read's wait),
// hands over what it found with the time, and asks for a frame; the reader itself never waits.
//
// There is no length or checksum on the line, and 0x5A ('Z') is an ordinary value inside a
// frame (an event index, a worker's code, a card number, the bytes the bridge does not read).
// So a frame is recognised by what surrounds it, and handed out only when exactly its own 16
// bytes came after its marker:
//
// - A frame starts at a 'Z' that is not followed by another 'Z': the unit sends no FrameCode
//   0x5A, so of "Z Z" the first is a stray byte.
// - From a frame's marker, markers follow every 17 bytes or none do: the unit sends 'Z' + 16
//   bytes and then waits for an answer, or sends the next frame at once.  The frames under way
//   are taken only when this chain of markers ends exactly where the input ends and a look at
//   the port has then found it quiet for kQuietMs (a frame's bytes follow each other within
//   milliseconds).  So a frame is never completed from the first bytes of the next one.  A
//   whole chain is handed out frame by frame, one per read.  A frame with no 'Z' among its
//   16 bytes and a marker right behind them is taken at once: it holds no start of another
//   frame, so a burst that is still arriving does not hold up the frames at its front.
// - Where a frame's 17th byte is there and is no marker, the chain is broken: a frame lost
//   bytes.  Every frame of the chain up to that one not yet taken is dropped: with
//   'Z's in the data, a frame in front of damage may as well be a shortened frame and the
//   start of the next, and a 'Z' inside the damaged burst may line up with its end.  What
//   follows counts only from the first burst that arrived after the line was quiet: the unit
//   repeats an event it got no answer for, so the damaged frame is dropped and the repeat
//   arrives whole.  The same holds when the frame under way stops short and a whole burst
//   follows after a quiet line.
// - A chain that runs past the end of the input is a frame still arriving: the caller waits,
//   and at the end of its wait abandon() drops it.
//
// No frame is ever made of bytes of two while the line damages a burst at most once (bytes
// lost, or noise or a stray 'Z' in front).  What a line without a checksum cannot tell apart
// is left: a frame that lost as many bytes as it gained, noise shaped like a frame.
class UnitFrameReader {
public:
    // A line flooding the bridge faster than frames are read is dropped whole beyond this,
    // together with the frame under way.
    static constexpr std::size_t kMaxPendingInput = 4096;
    // At 2400 baud a frame's bytes follow each other within about 4 ms; a tick of silence
    // after the last of them means nothing more of that frame is coming.
    static constexpr std::int64_t kQuietMs = 100;

    enum class Status {
        none,       // nothing under way (what there was is in dropped)
        frame,      // a whole frame
        needQuiet,  // whole frames, if a look at quietAtMs() or later finds nothing more
        needMore,   // a frame under way is not complete
    };
    struct Result {
        Status status = Status::none;
        CommandFrame frame;  // with Status::frame
        Bytes dropped;       // damaged frames dropped on the way, for the log
    };

    // What a look at the port at nowMs found, nothing included: an empty look tells that the
    // line has been quiet.  False when the pending input outgrew kMaxPendingInput: then it was
    // all dropped, as by purge().
    bool feed(std::string_view bytes, std::int64_t nowMs);
    // The marker search: drops the noise in front of the first marker; true when a frame is
    // under way.  Without a marker everything pending is dropped.
    bool findMarker();
    // The read: a frame, or what is still needed for one.
    Result read();
    // The wait for the frame under way is over: it is dropped with everything pending, which
    // is returned for the log.
    Bytes abandon();
    // Drops all pending input and the frame under way.
    void purge();

    // What has come of the frames pending, in the order they came: each frame's bytes after
    // its marker (16, or fewer for the last one while it is still arriving), following the
    // markers every 17 bytes from the first one as far as they run.
    std::vector<Bytes> framesSoFar() const;
    // Bytes handed over since the reader was made, and how many of them have been taken or
    // dropped: right after a read, the frame read ends at taken(), so it came before any
    // moment at which received() was at least that.
    std::uint64_t received() const { return m_taken + m_text.size(); }
    std::uint64_t taken() const { return m_taken; }

    bool pending() const { return !m_text.empty(); }
    // When the input counts as quiet unless more arrives.
    std::int64_t quietAtMs() const { return m_lastInputMs + kQuietMs; }

private:
    Result takeVerified(Result r);
    // Drops the first n bytes pending, into r's dropped when given.
    void drop(std::size_t n, Result* r);

    Bytes m_text;                       // from the frame under way (or noise) to the last byte
    std::vector<std::size_t> m_bursts;  // where in m_text bytes came after a quiet line
    std::size_t m_verified = 0;         // frames at the front of m_text already known whole
    bool m_afterBreak = false;          // a broken chain was dropped; only later bursts count
    bool m_quiet = false;  // the last look found nothing, kQuietMs or more after the input
    std::int64_t m_lastInputMs = 0;
    std::uint64_t m_taken = 0;  // bytes gone from the front of m_text
};

}  // namespace kv
