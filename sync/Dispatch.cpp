// What is done with each frame from the unit, and the periodic poll.
#include <algorithm>
#include <chrono>

#include "link/Cp1250.h"
#include "link/EventFields.h"
#include "sync/Engine.h"
#include "sync/EventLog.h"
#include "sync/Files.h"
#include "sync/Logging.h"
#include "sync/Statistics.h"

namespace kv {

namespace {
// The chip number the unit read: shown, and written where the web application's pages look.
void showChipNumber(PublishedView& view, const CommandFrame& f,
                    const std::filesystem::path& driveC) {
    const Bytes chip = chipText(f);
    view.show(Field::stavcip, chip);
    writeFileAnew(driveC / "lastid", chip + "\r\n");
    std::error_code ec;
    if (std::filesystem::exists(driveC / "apache" / "xampp-control.exe", ec))
        writeFileAnew(driveC / "apache" / "lastid", chip + "\r\n");
    for (const FieldUpdate& u : chipStatisticsUpdates(f)) view.show(u.field, u.text);
}

constexpr std::uint16_t kIdleThreshold = 2660;  // about 4 min 26 s of idle ticks

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
}  // namespace

void Engine::noteLaterIdentification(const CommandFrame& f) {
    if (m_exchange.kind() != RequestKind::event || m_carried.later) return;
    if (!isIdentification(f.code()) || f == m_carried.event) return;  // a repeat is no other
    const WallTime t = f.fromUnitCode() == FromUnit::event ? event::time(f) : cardEvent::time(f);
    if (clockCanShow(t)) m_carried.later = f;
}

std::string Engine::identificationWaiting(const CommandFrame& besides) {
    // What has arrived counts as well: after the process was held up, everything the unit sent
    // meanwhile waits in front of the reply, the unit's next identification anywhere in it.
    m_reception.collectArrived();
    for (const Bytes& held : m_reception.reader().framesSoFar()) {
        const bool sameSoFar =
            std::equal(held.begin(), held.end(), besides.bytes.begin(),
                       [](char a, std::uint8_t b) { return std::uint8_t(a) == b; });
        if (!held.empty() && isIdentification(std::uint8_t(held[0])) && !sameSoFar)
            return hexDump(held);
    }
    return {};
}

bool Engine::answerOverdue() {
    QString later;
    if (m_carried.later) {
        later = describeFromUnit(*m_carried.later);
    } else {
        const std::string waiting = identificationWaiting(m_carried.event);
        if (waiting.empty()) return false;
        later = QStringLiteral("a frame waiting to be read, ") + QString::fromStdString(waiting);
    }
    qCWarning(lcSync).noquote() << "answer not sent to the unit, which has sent another "
                                   "identification since the one answered:"
                                << describeFromUnit(m_carried.event) << "| sent since:" << later;
    noteIdentification(m_carried.identification +
                           " – předáno, odpověď do RJ neodeslána: RJ mezitím poslala další "
                           "identifikaci",
                       Tone::warning);
    return true;
}

bool Engine::replayAnswer(const CommandFrame& f) {
    const UnitCopies::Verdict* given = m_copies.replayFor(f);
    if (!given) return false;
    // The server has recorded it: asked again it would record it twice.  The unit, which did
    // not hear the answer (the port lost at the reply, Stop, a damaged frame), gets it again.
    m_view.change([](BridgeStatus& s) { ++s.replayed; });
    const std::string name = fromCp1250(given->shown).toStdString();
    m_view.show(Field::stavprac, given->shown, given->ok ? Tone::normal : Tone::failure);
    const std::string waiting = identificationWaiting(f);
    qCInfo(lcSync).noquote().nospace()
        << "the unit sent again an identification already given its verdict, answered again "
           "without a request (replay "
        << m_view.status().replayed << "): " << describeFromUnit(f)
        << (waiting.empty() ? "" : " | not sent, another identification waits: ")
        << QString::fromStdString(waiting);
    const auto& bytes = f.bytes;
    m_view.note(name + (given->ok ? " – odpověď do RJ zopakována" : " – odmítnutí zopakováno"),
                Tone::normal, "replay\n" + std::string(bytes.begin(), bytes.end()));
    if (given->ok && waiting.empty()) {
        m_frame = given->answer;
        if (zobraz()) m_copies.answerOnItsWay(f);
    }
    return true;
}

void Engine::countIdentification(const CommandFrame& f) {
    if (!m_copies.firstRead(f)) return;
    m_view.change([](BridgeStatus& s) { ++s.identifications; });
}

bool Engine::possibleEvent(const WallTime& when) {
    // The frames carry no checksum: a date and time no clock shows is the one field that tells a
    // frame made of noise, which the server would record as an identification.  A date that
    // is no calendar date (a clock never set, 29 February in another year) is still the unit's.
    // Noise is never repeated byte for byte: an identical copy is the unit's own, its clock
    // wrong, and is not silenced for ever.
    if (!clockCanShow(when) && m_heldImpossible != m_frame) {
        m_heldImpossible = m_frame;
        qCWarning(lcSync) << "event with an impossible date and time held back, until the unit "
                             "sends it again:"
                          << hexDump(m_frame.bytes).c_str();
        m_view.note("RJ poslala identifikaci s nemožným datem a časem, zadržena", Tone::warning);
        return false;
    }
    if (!clockCanShow(when)) {
        m_heldImpossible.reset();
        qCWarning(lcSync) << "event with an impossible date and time sent again by the unit, "
                             "forwarded: its clock needs setting:"
                          << hexDump(m_frame.bytes).c_str();
        m_view.note(
            "RJ poslala identifikaci s nemožným datem a časem znovu, předána – nastavte v RJ "
            "čas (Pošli čas do RJ)",
            Tone::warning);
        return true;
    }
    if (!calendarDate(when))
        qCWarning(lcSync).nospace() << "event dated " << when.day << "." << when.month << "."
                                    << when.year << ", which is no calendar date (is the unit's "
                                    << "clock set?), forwarded all the same";
    return true;
}

bool Engine::lineAndServerIdle() {
    return m_exchange.idle() && !m_reception.underWay() && !m_reception.inputWaiting();
}

void Engine::countIdle() {
    if (lineAndServerIdle()) ++m_idleTicks;
}

void Engine::periodicStep() {
    if (m_idleTicks <= kIdleThreshold) return;
    m_idleTicks = 0;
    // Bytes may have arrived since the idle count: then the poll waits for the next round.
    if (!lineAndServerIdle()) return;
    if (optionOn(m_settings.cas5min)) sendWithTime(ToUnit::setClock);
    issueRequest(pollUrl(requestSettings()), RequestKind::poll);
}

bool Engine::pollServer() {
    if (!m_exchange.idle() || m_reception.underWay() || communicationStopped()) return false;
    // An error status or a reply without a verdict is not disproved by a page to the poll, nor
    // is a line that did not take a frame: only what the connection failed may be re-checked.
    if (!m_health.pollDisproves()) return false;
    qCInfo(lcSync) << "the server is asked again before its failure is told";
    return issueRequest(pollUrl(requestSettings()), RequestKind::poll);
}

void Engine::readFrame() {
    m_copies.look();
    if (!m_reception.readDue()) return;
    switch (m_reception.read(m_frame)) {
        case Reception::Read::later:
            return;
        case Reception::Read::none:
            m_frame.clear();
            return;
        case Reception::Read::frame:
            break;
    }
    m_watch.heard();
    qCDebug(lcSync) << "received" << hexDump(m_frame.bytes).c_str();
    if (m_copies.inFlight(m_frame) || replayAnswer(m_frame)) return;
    if (m_exchange.kind() != RequestKind::none) {
        // One request at a time: a frame that needs another stays unanswered.  Statistics and
        // chip numbers need none and are shown at once.
        const FromUnit code = m_frame.fromUnitCode();
        if (code != FromUnit::statistics && code != FromUnit::chipNumber) {
            qCInfo(lcSync) << "frame left unanswered, a request is under way:"
                           << hexDump(m_frame.bytes).c_str();
            noteLaterIdentification(m_frame);
            return;
        }
    }
    m_view.show(Field::statrj, std::to_string(m_frame.code()));
    dispatch();
}

void Engine::inputArrived() {
    if (!m_line.running() && m_reception.readDue()) readFrame();
}

std::optional<std::int64_t> Engine::wakeDueMs() const {
    if (m_line.running()) return m_line.dueMs();
    std::optional<std::int64_t> due;
    if (!communicationStopped()) due = m_reception.wakeAt();
    if (const auto look = m_copies.lookDueMs()) due = std::min(due.value_or(*look), *look);
    return due;
}

void Engine::wake() {
    if (m_line.running()) return m_line.drive();
    m_copies.look();
    if (m_reception.readDue() && !communicationStopped()) readFrame();
}

void Engine::dispatch() {
    const CommandFrame& f = m_frame;
    logFromUnit(f);
    switch (f.fromUnitCode()) {
        case FromUnit::tableRequest:
            if (issueRequest(tablesUrl(requestSettings()), RequestKind::tables))
                m_tables.stopAnnouncing();
            break;
        case FromUnit::event: {
            if (!possibleEvent(event::time(f))) break;
            countIdentification(f);
            const EventRequest r = eventUrl(requestSettings(), f);
            m_view.show(Field::stavdatum, r.stavdatum);
            m_nameRequested = event::wantsName(f);
            issueRequest(r.url, RequestKind::event);
            break;
        }
        case FromUnit::statistics:
            for (const FieldUpdate& u : statisticsUpdates(f)) m_view.show(u.field, u.text);
            break;
        case FromUnit::chipNumber:
            showChipNumber(m_view, f, m_paths.driveC);
            break;
        case FromUnit::cardEvent: {
            if (!possibleEvent(cardEvent::time(f))) break;
            countIdentification(f);
            const EventRequest r = cardEventUrl(requestSettings(), f);
            m_view.show(Field::stavdatum, r.stavdatum);
            m_nameRequested = 0;
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

}  // namespace kv
