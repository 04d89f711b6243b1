#include "sync/Reception.h"

#include <algorithm>

#include "sync/Logging.h"

namespace kv {

namespace {
constexpr std::uint16_t kSettleTicks = 3;  // the frame is read two ticks after its marker
constexpr int kReadTimeoutSeconds = 3;
constexpr int kMaxReadsPerSearch = 64;  // a line flooded with noise must not hold the tick
}  // namespace

bool Reception::inputWaiting() { return m_reader.pending() || m_com.InCount() > 0; }

bool Reception::collect() {
    // A look that finds nothing counts too: it tells the reader the line is quiet.
    const Bytes input = m_com.InCount() > 0 ? m_com.ReadText() : Bytes();
    if (m_reader.feed(input, m_clock.monotonicMs())) return true;
    qCWarning(lcSync) << "input from the unit piles up; more than"
                      << UnitFrameReader::kMaxPendingInput << "bytes dropped";
    purge();
    return false;
}

void Reception::purge() {
    m_com.Purge();
    // A frame under way loses its tail with the rest: completing it from later input would
    // splice two frames into one.
    m_reader.purge();
    reset();
}

void Reception::reset() {
    m_settle = 0;
    m_deadline.reset();
    m_wakeAt.reset();
}

void Reception::purgeAfterReply() {
    // A frame under way takes what has come of it first: a purge inside it would splice it
    // with the next, and the reader would drop the frames behind the splice.
    if (m_settle != 0) collectArrived();
    // What the port holds goes with its queues, and bytes read behind a frame whose marker no
    // search has taken yet go with them, but not without a trace: after a table download they
    // are the identifications the unit sent meanwhile.
    Bytes dropped = m_com.InCount() > 0 ? m_com.ReadText() : Bytes();
    m_com.Purge();
    if (m_settle == 0 && m_reader.pending()) dropped = m_reader.abandon() + dropped;
    if (!dropped.empty())
        qCInfo(lcSync) << "input from the unit dropped after a reply:" << hexDump(dropped).c_str();
}

void Reception::searchMarker() {
    if (m_settle != 0 || !inputWaiting()) return;
    // Bytes before the first 'Z' are noise.  The search ends for this tick when nothing more
    // is waiting; what was read without a 'Z' is dropped.
    for (int reads = 0; reads < kMaxReadsPerSearch; ++reads) {
        if (m_reader.findMarker()) {
            m_settle = kSettleTicks;
            return;
        }
        if (m_com.InCount() <= 0 || !collect()) return;
    }
}

void Reception::settleCountdown() {
    if (m_settle <= 1) return;
    --m_settle;
    // The frame's bytes are taken as they come, so that the read knows whether the line has
    // gone quiet behind them.
    collect();
}

Reception::Read Reception::read(CommandFrame& frame) {
    const std::int64_t now = m_clock.monotonicMs();
    // The frame's time runs to the start of the third clock second from now.
    if (!m_deadline) m_deadline = instantOfSecondsAhead(m_clock, kReadTimeoutSeconds);
    // What arrived by the deadline still counts: the look at it is the last.
    const bool lastLook = now >= *m_deadline;
    using Status = UnitFrameReader::Status;
    UnitFrameReader::Result r;
    if (collect()) {
        r = m_reader.read();
        if (!r.dropped.empty())
            qCInfo(lcSync) << "damaged frame from the unit dropped:" << hexDump(r.dropped).c_str();
        if ((r.status == Status::needMore || r.status == Status::needQuiet) && !lastLook) {
            // Looked at again when input arrives, by the next tick, or when the line has been
            // quiet long enough (or the deadline has come), whichever is first.
            m_wakeAt = r.status == Status::needQuiet ? std::min(m_reader.quietAtMs(), *m_deadline)
                                                     : *m_deadline;
            return Read::later;
        }
    } else {
        r.status = Status::none;
    }
    reset();
    if (r.status == Status::frame) {
        frame = r.frame;
        return Read::frame;
    }
    if (r.status != Status::none) {
        const Bytes lost = m_reader.abandon();
        qCInfo(lcSync) << "frame from the unit incomplete after" << lost.size()
                       << "bytes:" << hexDump(lost).c_str();
    }
    return Read::none;
}

}  // namespace kv
