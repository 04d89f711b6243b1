// Reception of frames from the unit and what is done with each.
#include <algorithm>
#include <chrono>

#include "link/EventFields.h"
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
constexpr int kMaxReadsPerSearch = 64;  // a line flooded with noise must not hold the tick

// A date and time that a clock's fields can hold: a unit whose clock was never set sends
// 0.0.2000 0:00:00, and its identifications are real all the same.
bool clockCanShow(const WallTime& t) {
    return t.hour < 24 && t.minute < 60 && t.second < 60 && t.day <= 31 && t.month <= 12;
}

bool calendarDate(const WallTime& t) {
    using namespace std::chrono;
    return year_month_day{year{t.year}, month{static_cast<unsigned>(t.month)},
                          day{static_cast<unsigned>(t.day)}}
        .ok();
}

bool isIdentification(std::uint8_t code) {
    return code == static_cast<std::uint8_t>(FromUnit::event) ||
           code == static_cast<std::uint8_t>(FromUnit::cardEvent);
}
}  // namespace

void Engine::noteLaterIdentification(const CommandFrame& f) {
    if (m_state.requestKind != RequestKind::event || m_state.laterIdentification) return;
    if (!isIdentification(f.code()) || f == m_state.requestedEvent) return;  // a repeat is no other
    const WallTime t = f.fromUnitCode() == FromUnit::event ? event::time(f) : cardEvent::time(f);
    if (clockCanShow(t)) m_state.laterIdentification = f;
}

bool Engine::answerOverdue() {
    // What has arrived counts as well: after the process was held up, everything the unit sent
    // meanwhile waits in front of the reply, the unit's next identification anywhere in it.
    if (m_com.InCount() > 0) collectInput();
    QString later;
    if (m_state.laterIdentification) {
        later = describeFromUnit(*m_state.laterIdentification);
    } else {
        const CommandFrame& asked = m_state.requestedEvent;
        for (const Bytes& held : m_reader.framesSoFar()) {
            const bool sameSoFar =
                std::equal(held.begin(), held.end(), asked.bytes.begin(),
                           [](char a, std::uint8_t b) { return std::uint8_t(a) == b; });
            if (held.empty() || !isIdentification(std::uint8_t(held[0])) || sameSoFar) continue;
            later = QStringLiteral("a frame waiting to be read, ") +
                    QString::fromStdString(hexDump(held));
            break;
        }
        if (later.isEmpty()) return false;
    }
    qCWarning(lcSync).noquote() << "answer not sent to the unit, which has sent another "
                                   "identification since the one answered:"
                                << describeFromUnit(m_state.requestedEvent)
                                << "| sent since:" << later;
    note(m_identification +
             " – předáno, odpověď do RJ neodeslána: RJ mezitím poslala další "
             "identifikaci",
         Tone::warning);
    return true;
}

bool Engine::unitRepeat(const CommandFrame& f) {
    // The unit sends an identification again when it hears no answer within its own time, so
    // a held-up bridge finds several copies of it queued, and the later ones are no new
    // identifications: forwarded, they would be recorded again and their answers would go out
    // while the unit waits for the next one.  A copy that came after the answer went out is
    // the unit not having heard it, and is forwarded as any other.
    if (!m_forwarded || !isIdentification(f.code()) || f != m_forwarded->frame) return false;
    if (m_forwarded->settledAt && m_reader.taken() > *m_forwarded->settledAt) return false;
    ++m_forwarded->repeats;
    qCInfo(lcSync).noquote().nospace()
        << "the unit's repeat " << m_forwarded->repeats
        << " of the identification already forwarded, not forwarded again: " << describeFromUnit(f);
    return true;
}

void Engine::countIdentification(const CommandFrame& f) {
    // A copy forwarded again, after its answer went out unheard, is the same identification.
    if (f == m_lastIdentification) return;
    m_lastIdentification = f;
    ++m_status.identifications;
    publish();
}

void Engine::eventSettled() {
    if (m_forwarded) m_forwarded->settledAt = m_reader.received();
}

bool Engine::possibleEvent(const WallTime& when) {
    // The frames carry no checksum: a date and time no clock shows is the one field that tells a
    // frame made of noise, which the server would record as an identification.  A date that
    // is no calendar date (a clock never set, 29 February in another year) is still the unit's.
    if (!clockCanShow(when)) {
        qCWarning(lcSync) << "event with an impossible date and time dropped:"
                          << hexDump(m_state.frame.bytes).c_str();
        note("RJ poslala identifikaci s nemožným datem a časem, zahozena", Tone::warning);
        return false;
    }
    if (!calendarDate(when))
        qCWarning(lcSync).nospace() << "event dated " << when.day << "." << when.month << "."
                                    << when.year << ", which is no calendar date (is the unit's "
                                    << "clock set?), forwarded all the same";
    return true;
}

void Engine::countIdle() {
    if (m_state.requestKind == RequestKind::none && m_state.receiveSettle == 0 &&
        m_state.serverPhase == ServerPhase::idle && !inputWaiting())
        ++m_state.idleTicks;
}

void Engine::periodicStep() {
    if (m_state.idleTicks <= kIdleThreshold) return;
    m_state.idleTicks = 0;
    // Bytes may have arrived since the idle count: then the poll waits for the next round.
    if (m_state.requestKind != RequestKind::none || m_state.receiveSettle != 0 ||
        m_state.serverPhase != ServerPhase::idle || inputWaiting())
        return;
    if (optionOn(m_settings.cas5min)) sendWithTime(ToUnit::setClock);
    issueRequest(pollUrl(requestSettings()), RequestKind::poll);
}

bool Engine::pollServer() {
    if (m_state.requestKind != RequestKind::none || m_state.receiveSettle != 0 ||
        m_state.serverPhase != ServerPhase::idle || communicationStopped())
        return false;
    qCInfo(lcSync) << "the server is asked again before its failure is told";
    return issueRequest(pollUrl(requestSettings()), RequestKind::poll);
}

bool Engine::inputWaiting() { return m_reader.pending() || m_com.InCount() > 0; }

bool Engine::collectInput() {
    // A look that finds nothing counts too: it tells the reader the line is quiet.
    const Bytes input = m_com.InCount() > 0 ? m_com.ReadText() : Bytes();
    if (m_reader.feed(input, m_clock.monotonicMs())) return true;
    qCWarning(lcSync) << "input from the unit piles up; more than"
                      << UnitFrameReader::kMaxPendingInput << "bytes dropped";
    purgeInput();
    return false;
}

void Engine::purgeInput() {
    m_com.Purge();
    // A frame under way loses its tail with the rest: completing it from later input would
    // splice two frames into one.
    m_reader.purge();
    m_state.receiveSettle = 0;
    m_state.readDeadline.reset();
    m_state.readWakeAt.reset();
}

void Engine::purgePortAfterReply() {
    // A frame under way takes what has come of it first: a purge inside it would splice it
    // with the next, and the reader would drop the frames behind the splice.
    if (m_state.receiveSettle != 0 && m_com.InCount() > 0) collectInput();
    // What the port holds goes with its queues, and bytes read behind a frame whose marker no
    // search has taken yet go with them, but not without a trace: after a table download they
    // are the identifications the unit sent meanwhile.
    Bytes dropped = m_com.InCount() > 0 ? m_com.ReadText() : Bytes();
    m_com.Purge();
    if (m_state.receiveSettle == 0 && m_reader.pending()) dropped = m_reader.abandon() + dropped;
    if (!dropped.empty())
        qCInfo(lcSync) << "input from the unit dropped after a reply:" << hexDump(dropped).c_str();
}

void Engine::searchMarker() {
    if (m_state.receiveSettle != 0 || !inputWaiting()) return;
    // Bytes before the first 'Z' are noise.  The search ends for this tick when nothing more
    // is waiting; what was read without a 'Z' is dropped.
    for (int reads = 0; reads < kMaxReadsPerSearch; ++reads) {
        if (m_reader.findMarker()) {
            m_state.receiveSettle = kSettleTicks;
            return;
        }
        if (m_com.InCount() <= 0 || !collectInput()) return;
    }
}

void Engine::settleCountdown() {
    if (m_state.receiveSettle <= 1) return;
    --m_state.receiveSettle;
    // The frame's bytes are taken as they come, so that the read knows whether the line has
    // gone quiet behind them.
    collectInput();
}

void Engine::readFrame() {
    if (m_state.receiveSettle != 1) return;
    const std::int64_t now = m_clock.monotonicMs();
    // The frame's time runs to the start of the third clock second from now.
    if (!m_state.readDeadline)
        m_state.readDeadline = instantOfSecondsAhead(m_clock, kReadTimeoutSeconds);
    // What arrived by the deadline still counts: the look at it is the last.
    const bool lastLook = now >= *m_state.readDeadline;
    using Status = UnitFrameReader::Status;
    UnitFrameReader::Result r;
    if (collectInput()) {
        r = m_reader.read();
        if (!r.dropped.empty())
            qCInfo(lcSync) << "damaged frame from the unit dropped:" << hexDump(r.dropped).c_str();
        if ((r.status == Status::needMore || r.status == Status::needQuiet) && !lastLook) {
            // Looked at again when input arrives, by the next tick, or when the line has been
            // quiet long enough (or the deadline has come), whichever is first.
            m_state.readWakeAt = r.status == Status::needQuiet
                                     ? std::min(m_reader.quietAtMs(), *m_state.readDeadline)
                                     : *m_state.readDeadline;
            return;
        }
    } else {
        r.status = Status::none;
    }
    m_state.receiveSettle = 0;
    m_state.readDeadline.reset();
    m_state.readWakeAt.reset();
    if (r.status != Status::frame) {
        m_state.frame.clear();
        if (r.status != Status::none) {
            const Bytes lost = m_reader.abandon();
            qCInfo(lcSync) << "frame from the unit incomplete after" << lost.size()
                           << "bytes:" << hexDump(lost).c_str();
        }
        return;
    }
    m_state.frame = r.frame;
    unitHeard();
    qCDebug(lcSync) << "received" << hexDump(m_state.frame.bytes).c_str();
    if (unitRepeat(m_state.frame)) return;
    if (m_state.requestKind != RequestKind::none) {
        // One request at a time: a frame that needs another stays unanswered.  Statistics and
        // chip numbers need none and are shown at once.
        const FromUnit code = m_state.frame.fromUnitCode();
        if (code != FromUnit::statistics && code != FromUnit::chipNumber) {
            qCInfo(lcSync) << "frame left unanswered, a request is under way:"
                           << hexDump(m_state.frame.bytes).c_str();
            noteLaterIdentification(m_state.frame);
            return;
        }
    }
    show(Field::statrj, std::to_string(m_state.frame.code()));
    dispatch();
}

void Engine::inputArrived() {
    if (!m_job && m_state.receiveSettle == 1) readFrame();
}

std::optional<std::int64_t> Engine::wakeDueMs() const {
    if (m_job) return jobDueMs();
    if (m_state.receiveSettle == 1 && !communicationStopped()) return m_state.readWakeAt;
    return std::nullopt;
}

void Engine::wake() {
    if (m_job)
        driveJob();
    else if (m_state.receiveSettle == 1 && !communicationStopped())
        readFrame();
}

void Engine::dispatch() {
    const CommandFrame& f = m_state.frame;
    logFromUnit(f);
    switch (f.fromUnitCode()) {
        case FromUnit::tableRequest:
            if (issueRequest(tablesUrl(requestSettings()), RequestKind::tables))
                m_state.tableSyncCountdown = 0;
            break;
        case FromUnit::event: {
            if (!possibleEvent(event::time(f))) break;
            countIdentification(f);
            const EventRequest r = eventUrl(requestSettings(), f);
            show(Field::stavdatum, r.stavdatum);
            m_state.nameRequested = event::wantsName(f);
            issueRequest(r.url, RequestKind::event);
            break;
        }
        case FromUnit::statistics:
            showStatistics();
            break;
        case FromUnit::chipNumber:
            showChipNumber();
            break;
        case FromUnit::cardEvent: {
            if (!possibleEvent(cardEvent::time(f))) break;
            countIdentification(f);
            const EventRequest r = cardEventUrl(requestSettings(), f);
            show(Field::stavdatum, r.stavdatum);
            m_state.nameRequested = 0;
            issueRequest(r.url, RequestKind::event);
            break;
        }
        case FromUnit::clockReport:
            if (clockReport::actedOn(f))
                issueRequest(clockReportUrl(requestSettings(), f), RequestKind::clockReport);
            break;
        default:
            break;
    }
}

void Engine::showStatistics() {
    for (const FieldUpdate& u : statisticsUpdates(m_state.frame)) show(u.field, u.text);
}

void Engine::showChipNumber() {
    const Bytes chip = chipText(m_state.frame);
    show(Field::stavcip, chip);
    writeFileAnew(m_paths.driveC / "lastid", chip + "\r\n");
    std::error_code ec;
    if (std::filesystem::exists(m_paths.driveC / "apache" / "xampp-control.exe", ec))
        writeFileAnew(m_paths.driveC / "apache" / "lastid", chip + "\r\n");
    for (const FieldUpdate& u : chipStatisticsUpdates(m_state.frame)) show(u.field, u.text);
}

}  // namespace kv
