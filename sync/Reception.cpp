// Reception of frames from the unit and what is done with each.
#include <algorithm>

#include "link/Deadline.h"
#include "sync/Engine.h"
#include "sync/EventLog.h"
#include "sync/Files.h"
#include "sync/Logging.h"
#include "sync/Statistics.h"

namespace kv {

namespace {
constexpr std::uint16_t kIdleThreshold = 2660;  // about 4 min 26 s of idle ticks
constexpr std::uint16_t kSettleTicks = 3;       // the frame is read two ticks after its marker
constexpr int kReadTimeoutSeconds = 3;
constexpr std::size_t kKeptAfterMarker = 200;
// Input read but not yet searched.  A line flooding the bridge faster than frames are read is
// dropped whole beyond this, together with the frame under way.
constexpr std::size_t kMaxPendingInput = 4096;
constexpr int kMaxReadsPerSearch = 64;  // a line flooded with noise must not hold the tick
constexpr int kFrameSize = 16;
constexpr std::int64_t kWaitSliceMs = 100;  // the window repaints at least this often
}  // namespace

void Engine::countIdle() {
    if (m_state.requestKind == RequestKind::None && m_state.receiveSettle == 0 &&
        m_state.serverPhase == ServerPhase::Idle && !inputWaiting())
        ++m_state.idleTicks;
}

void Engine::settleCountdown() {
    if (m_state.receiveSettle > 1) --m_state.receiveSettle;
}

void Engine::periodicStep() {
    if (m_state.idleTicks <= kIdleThreshold) return;
    m_state.idleTicks = 0;
    // Bytes may have arrived since the idle count: then the poll waits for the next round.
    if (m_state.requestKind != RequestKind::None || m_state.receiveSettle != 0 ||
        m_state.serverPhase != ServerPhase::Idle || inputWaiting())
        return;
    if (m_fields.checked(Check::cas5min)) sendWithTime(ToUnit::SetClock);
    issueRequest(pollUrl(requestSettings()), RequestKind::Poll);
}

void Engine::searchMarker() {
    if (m_state.receiveSettle != 0 || !inputWaiting()) return;
    // Bytes before the first 'Z' are noise.  The search ends for this tick when nothing more
    // is waiting; what was read without a 'Z' is dropped.
    for (int reads = 0; reads < kMaxReadsPerSearch && inputWaiting(); ++reads) {
        const Bytes input = takeInput();
        const std::size_t marker = input.find('Z');
        if (marker == Bytes::npos) continue;
        // Only the frame's own bytes are kept for it; what follows them is whole frames for
        // later searches, never cut off in the middle.
        m_state.receiveText = input.substr(marker + 1, kKeptAfterMarker);
        m_state.receiveSettle = kSettleTicks;
        keepForLater(input.substr(std::min(input.size(), marker + 1 + kKeptAfterMarker)));
        return;
    }
}

void Engine::readFrame() {
    if (m_state.receiveSettle != 1) return;
    const Deadline deadline = Deadline::secondsAhead(m_clock, kReadTimeoutSeconds);
    m_state.receiveSettle = 0;
    bool timedOut = false;
    Bytes& text = m_state.receiveText;
    while (text.size() < kFrameSize && !timedOut) {
        if (deadline.expired()) timedOut = true;
        if (inputWaiting()) {
            text += takeInput();
        } else if (!timedOut) {
            // A closed or failing port answers at once: sleep the slice out instead of spinning.
            Deadline slice = Deadline::in(m_clock, deadline.sliceMs(kWaitSliceMs));
            if (!m_com.WaitForInput(static_cast<int>(slice.remainingMs()))) slice.sleepSlice();
            waitHook();
        }
    }
    if (timedOut) {
        m_state.frame.clear();
        qCInfo(lcSync) << "frame from the unit incomplete after" << text.size() << "bytes";
        text.clear();
        return;
    }
    std::copy_n(text.begin(), kFrameSize, m_state.frame.bytes.begin());
    // A second frame right behind the first is input like any other: the next search takes it.
    const Bytes behind = text.substr(kFrameSize);
    text.clear();
    keepForLater(behind);
    qCDebug(lcSync) << "received" << hexDump(m_state.frame.bytes).c_str();
    if (m_state.requestKind != RequestKind::None) {
        // One request at a time: a frame that needs another stays unanswered.  Statistics and
        // chip numbers need none and are shown at once.
        const FromUnit code = m_state.frame.fromUnitCode();
        if (code != FromUnit::Statistics && code != FromUnit::ChipNumber) {
            qCInfo(lcSync) << "frame left unanswered, a request is under way:"
                           << hexDump(m_state.frame.bytes).c_str();
            return;
        }
    }
    m_fields.setText(Field::statrj, std::to_string(m_state.frame.code()));
    dispatch();
}

void Engine::keepForLater(const Bytes& unread) {
    m_pendingInput.insert(0, unread);
    if (m_pendingInput.size() <= kMaxPendingInput) return;
    qCWarning(lcSync) << "input from the unit piles up;" << m_pendingInput.size()
                      << "bytes dropped";
    purgeInput();
}

void Engine::dispatch() {
    const CommandFrame& f = m_state.frame;
    logFromUnit(f);
    switch (f.fromUnitCode()) {
        case FromUnit::TableRequest:
            if (issueRequest(tablesUrl(requestSettings()), RequestKind::Tables))
                m_state.tableSyncCountdown = 0;
            break;
        case FromUnit::Event: {
            const EventRequest r = eventUrl(requestSettings(), f);
            m_fields.setText(Field::stavdatum, r.stavdatum);
            m_state.nameRequested = f[13];
            issueRequest(r.url, RequestKind::Event);
            break;
        }
        case FromUnit::Statistics:
            showStatistics();
            break;
        case FromUnit::ChipNumber:
            showChipNumber();
            break;
        case FromUnit::CardEvent: {
            const EventRequest r = cardEventUrl(requestSettings(), f);
            m_fields.setText(Field::stavdatum, r.stavdatum);
            m_state.nameRequested = 0;
            issueRequest(r.url, RequestKind::Event);
            break;
        }
        case FromUnit::ClockReport:
            if (f[2] == 1)
                issueRequest(clockReportUrl(requestSettings(), f), RequestKind::ClockReport);
            break;
        default:
            break;
    }
}

void Engine::showStatistics() {
    for (const FieldUpdate& u : statisticsUpdates(m_state.frame)) m_fields.setText(u.field, u.text);
}

void Engine::showChipNumber() {
    const Bytes chip = chipText(m_state.frame);
    m_fields.setText(Field::stavcip, chip);
    writeFileAnew(m_paths.driveC / "lastid", chip + "\r\n");
    std::error_code ec;
    if (std::filesystem::exists(m_paths.driveC / "apache" / "xampp-control.exe", ec))
        writeFileAnew(m_paths.driveC / "apache" / "lastid", chip + "\r\n");
    for (const FieldUpdate& u : chipStatisticsUpdates(m_state.frame))
        m_fields.setText(u.field, u.text);
}

}  // namespace kv
