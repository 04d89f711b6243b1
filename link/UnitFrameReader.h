#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "link/CommandFrame.h"

namespace kv {

// Turns the bytes the unit sends into whole frames: 'Z' and the 16 frame bytes.  Bytes in,
// frames out; the caller decides when to look (the settle ticks, the read's wait) and passes
// the time, so the reader itself never waits.
//
// There is no length or checksum on the line, and 0x5A ('Z') is an ordinary value inside a
// frame (an event index, a worker's code, a card number, the bytes the bridge does not read).
// So a frame is recognised by what surrounds it, and a frame is handed out only when exactly
// its own 16 bytes came after its marker:
//
// - A marker is a 'Z' that is not followed by another 'Z'.  The unit sends no FrameCode 0x5A,
//   so of "Z Z" the first is a stray byte and the second the marker.
// - From a marker, markers follow every 17 bytes or none do: the unit sends 'Z' + 16 bytes and
//   then waits for an answer, or sends the next frame at once.  The frames under way are taken
//   only when this chain of markers ends exactly where the input ends and the line has then
//   been quiet for kQuietMs (frame bytes follow each other within milliseconds), so a frame
//   is never completed from the first bytes of the next one.  A whole chain is handed out
//   frame by frame, one per read.
// - Where a frame's 17th byte is there and is no marker, the chain is broken: the frame
//   lost bytes or gained some.  Every frame of the chain up to and including that one is
//   dropped, since with data 'Z's a whole-looking frame in front of a damaged one may itself
//   be a shortened frame plus the start of the next.  The search then goes on after the
//   broken frame's marker, and of the markers there only one whose chain ends exactly at
//   the end of the quiet input is taken: the marker of the frames behind the damage.  Under
//   one damage (lost, stray or added bytes) no other position can line up with the end.
// - A chain that runs past the end of the input is a frame still arriving: the caller waits,
//   and at the end of its wait abandon() drops it.
//
// So a damaged frame is dropped (the unit repeats an event it gets no answer for), the frames
// behind it still arrive, and no frame is ever made of bytes of two.  What cannot be told from
// a whole frame on a line without a checksum is left: a frame that lost as many bytes as it
// gained, or noise shaped like a frame.
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
        needQuiet,  // whole frames so far, if nothing more arrives before quietAtMs()
        needMore,   // a frame under way is not complete
    };
    struct Result {
        Status status = Status::none;
        CommandFrame frame;  // with Status::frame
        Bytes dropped;       // damaged frames dropped on the way, for the log
    };

    // Bytes as taken from the port at nowMs.  False when the pending input outgrew
    // kMaxPendingInput: then it was all dropped, as by purge().
    bool feed(std::string_view bytes, std::int64_t nowMs);
    // The marker search: drops the noise in front of the first marker; true when a frame is
    // under way.  Without a marker everything pending is dropped.
    bool findMarker();
    // The read, at nowMs: a frame, or what is still needed for one.
    Result read(std::int64_t nowMs);
    // The wait for the frame under way is over: it is dropped with everything pending, which
    // is returned for the log.
    Bytes abandon();
    // Drops all pending input and the frame under way.
    void purge();

    bool pending() const { return !m_text.empty(); }
    std::size_t pendingSize() const { return m_text.size(); }
    // When the input counts as quiet unless more arrives.
    std::int64_t quietAtMs() const { return m_lastInputMs + kQuietMs; }

private:
    Result takeVerified(Result r);

    Bytes m_text;                // from the frame under way (or noise) to the last byte read
    std::size_t m_verified = 0;  // frames at the front of m_text already known whole
    bool m_afterBreak = false;   // a broken chain was dropped; only the frames behind count
    std::int64_t m_lastInputMs = 0;
};

}  // namespace kv
