#include "Unit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "FrameText.h"

namespace kvsim {

namespace {

constexpr std::uint8_t kZ = 0x5A;
constexpr std::size_t kTruncatedDataBytes = 10;
constexpr std::size_t kSplitAfter = 8;  // 'Z' and the first 7 frame bytes

std::int64_t ms(double seconds) { return static_cast<std::int64_t>(std::llround(seconds * 1000)); }

Chip chipOf(std::uint64_t v) {
    Chip c{};
    for (int i = 5; i >= 0; --i, v >>= 8) c[static_cast<std::size_t>(i)] = v & 0xFF;
    return c;
}

std::string onWire(const kv::CommandFrame& f) {
    std::string s(1, static_cast<char>(kZ));
    s.append(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
    return s;
}

std::optional<kv::WallTime> stampOf(const kv::CommandFrame& f) {
    const kv::WallTime t = kv::timeStampAt(f, 2);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
        t.second > 59)
        return std::nullopt;
    return t;
}

}  // namespace

const std::vector<Chip>& defaultChips() {
    static const std::vector<Chip> chips = {chipOf(0x0000A1B2C3D4), chipOf(0x00001A2B3C4D),
                                            chipOf(0x000012345678), chipOf(0x0102030405A0)};
    return chips;
}

Unit::Unit(UnitOptions options, std::int64_t nowMs, const kv::WallTime& clock, LogSink log)
    : m_opt(std::move(options)),
      m_log(std::move(log)),
      m_clock(clock, nowMs),
      m_random(m_opt.seed) {
    if (m_opt.chips.empty()) m_opt.chips = defaultChips();
    m_earliestSendMs = nowMs;
    if (eventsDone()) m_eventsDoneMs = nowMs;
    if (!m_opt.waitForBridge) startSession(nowMs);
}

void Unit::log(const std::string& line) const {
    if (m_log) m_log(line);
}

void Unit::startSession(std::int64_t nowMs) {
    m_sessionStarted = true;
    m_nextEventDueMs = nowMs + ms(m_opt.intervalS);
    m_wantStats = m_wantStats || m_opt.statsAtStart;
    m_wantClockReport = m_wantClockReport || m_opt.clockReportAtStart;
    if (m_opt.statsEveryS > 0) m_nextStatsMs = nowMs + ms(m_opt.statsEveryS);
    if (m_opt.clockReportEveryS > 0) m_nextClockReportMs = nowMs + ms(m_opt.clockReportEveryS);
}

void Unit::setExchange(Exchange e, std::int64_t deadlineMs) {
    m_exchange = e;
    m_exchangeDeadlineMs = deadlineMs;
}

// ---- from the bridge ------------------------------------------------------------------------

void Unit::onBytes(std::string_view bytes, std::int64_t nowMs) {
    checkDeadlines(nowMs);
    const auto garbageBefore = m_parser.garbageBytes();
    const auto frames = m_parser.feed(bytes, nowMs);
    if (const auto skipped = m_parser.garbageBytes() - garbageBefore; skipped > 0)
        log("pc>unit " + std::to_string(skipped) + " bytes outside a frame skipped");
    for (const auto& f : frames) handleFrame(f, nowMs);
}

void Unit::onPurge(bool bridgeOutput, bool bridgeInput, std::int64_t nowMs) {
    checkDeadlines(nowMs);
    ++m_sum.bridgePurges;
    std::string what = "pc>unit the bridge purged its port:";
    if (bridgeInput) what += " input";
    if (bridgeInput && bridgeOutput) what += " and";
    // On a pseudo-terminal its output queue is what the unit has not read yet.
    if (bridgeOutput) what += " output (frames to the unit not yet read are lost)";
    log(what);
}

void Unit::handleFrame(const kv::CommandFrame& f, std::int64_t nowMs) {
    ++m_sum.framesReceived;
    const auto wire = kv::wireForm(f);
    log("pc>unit FC" + std::to_string(f.code()) + " " + describeFromBridge(f) + " | " +
        kv::hexDump(wire));
    // The bridge may purge its input right after what it just sent: answer a little later.
    m_earliestSendMs = std::max(m_earliestSendMs, nowMs + m_opt.minGapMs);
    if (!m_sessionStarted) startSession(nowMs);

    using kv::ToUnit;
    switch (f.toUnitCode()) {
        case ToUnit::SetClock:
        case ToUnit::StartOfCommunication:
            if (const auto t = stampOf(f)) {
                m_clock.set(*t, nowMs);
                ++m_sum.clockSets;
                m_sum.lastClockSet = t;
                log("unit    clock set to " + formatCivil(*t));
            } else {
                log("unit    time out of range, clock left as it is");
            }
            if (f.toUnitCode() == ToUnit::SetClock && m_exchange == Exchange::ClockReport)
                setExchange(Exchange::None, 0);
            break;
        case ToUnit::TablesBegin:
            if (m_downloading) {
                ++m_sum.incompleteDownloads;
                log("unit    previous table download never ended; discarded");
            }
            m_incoming = {};
            m_downloading = true;
            m_downloadDeadlineMs = nowMs + m_opt.downloadGapMs;
            if (m_exchange == Exchange::Tables) setExchange(Exchange::None, 0);
            break;
        case ToUnit::Section1Record:
        case ToUnit::Section2Record:
            if (!m_downloading) {
                log("unit    table record outside a download; ignored");
                break;
            }
            (f.toUnitCode() == ToUnit::Section1Record ? m_incoming.section1 : m_incoming.section2)
                .push_back(f);
            m_downloadDeadlineMs = nowMs + m_opt.downloadGapMs;
            break;
        case ToUnit::TablesEnd:
            if (m_downloading)
                finishDownload(nowMs);
            else
                log("unit    end of a download that never began; ignored");
            break;
        case ToUnit::Answer:
            handleAnswer(f, nowMs);
            break;
        case ToUnit::TablesChanged:
            ++m_sum.tablesChanged;
            m_wantTables = true;
            break;
        case ToUnit::StatisticsRequest:
            ++m_sum.statsRequests;
            m_wantStats = true;
            break;
        case ToUnit::ChipNumberRequest:
            ++m_sum.chipRequests;
            m_wantChip = true;
            break;
        case ToUnit::FictitiousEvent:
            ++m_sum.fictitiousEvents;
            break;
        default:
            ++m_sum.unknownFrames;
            break;
    }
}

void Unit::handleAnswer(const kv::CommandFrame& f, std::int64_t /*nowMs*/) {
    if (m_exchange != Exchange::Event || !m_awaiting) {
        ++m_sum.unexpectedAnswers;
        log("unit    answer while no event awaits one");
        return;
    }
    ++m_sum.answered;
    std::string verdict = "OK, no name";
    if (f[2] != 0) {
        ++m_sum.answeredWithName;
        m_sum.names.push_back(trimmedName(f));
        verdict = "name \"" + m_sum.names.back() + "\"";
    }
    log("unit    event #" + std::to_string(m_awaiting->ordinal) + " answered: " + verdict);
    m_awaiting.reset();
    m_resendDue = false;
    setExchange(Exchange::None, 0);
}

void Unit::finishDownload(std::int64_t nowMs) {
    m_downloading = false;
    m_table = std::move(m_incoming);
    m_incoming = {};
    ++m_sum.tableDownloads;
    m_sum.s1Records = static_cast<long>(m_table.section1.size());
    m_sum.s2Records = static_cast<long>(m_table.section2.size());
    m_sum.s1RecordsTotal += m_sum.s1Records;
    m_sum.s2RecordsTotal += m_sum.s2Records;
    m_tablesChanged = true;
    m_earliestSendMs = std::max(m_earliestSendMs, nowMs + m_opt.afterDownloadMs);
    log("unit    tables stored: " + std::to_string(m_sum.s1Records) + " section-1 and " +
        std::to_string(m_sum.s2Records) + " section-2 records");
}

// ---- time ------------------------------------------------------------------------------------

void Unit::checkDeadlines(std::int64_t nowMs) {
    if (m_parser.expire(nowMs)) log("pc>unit incomplete frame dropped");
    if (m_downloading && nowMs >= m_downloadDeadlineMs) {
        m_downloading = false;
        ++m_sum.incompleteDownloads;
        log("unit    table download stopped without its end; tables kept as they were");
    }
    if (m_exchange != Exchange::None && nowMs >= m_exchangeDeadlineMs) {
        switch (m_exchange) {
            case Exchange::Event:
                if (m_awaiting && m_awaiting->damaged) {
                    m_resendDue = true;
                    log("unit    no answer to damaged event #" +
                        std::to_string(m_awaiting->ordinal) + "; it goes again");
                } else if (m_awaiting) {
                    ++m_sum.timedOut;
                    log("unit    event #" + std::to_string(m_awaiting->ordinal) +
                        " not answered in time");
                    m_awaiting.reset();
                }
                break;
            case Exchange::Tables:
                log("unit    tables asked for but not sent");
                break;
            case Exchange::ClockReport:
                log("unit    clock reported but not set");
                break;
            case Exchange::None:
                break;
        }
        setExchange(Exchange::None, 0);
    }
    const auto periodic = [nowMs](std::optional<std::int64_t>& next, double everyS, bool& want) {
        if (!next || nowMs < *next) return;
        want = true;
        *next += ms(everyS);
        if (*next <= nowMs) *next = nowMs + ms(everyS);
    };
    periodic(m_nextStatsMs, m_opt.statsEveryS, m_wantStats);
    periodic(m_nextClockReportMs, m_opt.clockReportEveryS, m_wantClockReport);
}

void Unit::advance(std::int64_t nowMs) {
    checkDeadlines(nowMs);
    if (!m_splitRest.empty() && nowMs >= m_splitRestMs) {
        m_out += m_splitRest;
        m_splitRest.clear();
    }
    sendNext(nowMs);
    if (!m_eventsDoneMs && eventsDone()) m_eventsDoneMs = nowMs;
    if (m_eventsDoneMs && nowMs >= *m_eventsDoneMs + ms(m_opt.lingerS)) m_lingerOver = true;
}

std::string Unit::takeOutput() {
    std::string out;
    out.swap(m_out);
    return out;
}

bool Unit::eventsDone() const {
    return m_opt.events >= 0 && m_nextOrdinal > m_opt.events && !m_awaiting;
}

std::int64_t Unit::nextWakeMs() const {
    std::int64_t wake = std::numeric_limits<std::int64_t>::max();
    const auto consider = [&wake](std::int64_t t) { wake = std::min(wake, t); };
    if (const auto t = m_parser.expiryMs()) consider(*t);
    if (m_downloading) consider(m_downloadDeadlineMs);
    if (m_exchange != Exchange::None) consider(m_exchangeDeadlineMs);
    if (!m_splitRest.empty()) consider(m_splitRestMs);
    if (m_nextStatsMs) consider(*m_nextStatsMs);
    if (m_nextClockReportMs) consider(*m_nextClockReportMs);
    const bool lineFree =
        m_sessionStarted && m_exchange == Exchange::None && !m_downloading && m_splitRest.empty();
    if (lineFree) {
        if (m_wantTables || m_wantStats || m_wantChip || m_wantClockReport || m_resendDue)
            consider(m_earliestSendMs);
        else if (!m_awaiting && (m_opt.events < 0 || m_nextOrdinal <= m_opt.events))
            consider(std::max(m_earliestSendMs, m_nextEventDueMs));
    }
    if (m_eventsDoneMs && !m_opt.forever && !m_lingerOver)
        consider(*m_eventsDoneMs + ms(m_opt.lingerS));
    return wake;
}

bool Unit::finished(std::int64_t nowMs) const {
    return !m_opt.forever && m_eventsDoneMs && nowMs >= *m_eventsDoneMs + ms(m_opt.lingerS) &&
           m_exchange == Exchange::None && !m_downloading && m_splitRest.empty();
}

bool Unit::takeTablesChanged() {
    const bool changed = m_tablesChanged;
    m_tablesChanged = false;
    return changed;
}

Summary Unit::summary() const {
    Summary s = m_sum;
    s.garbageBytes = m_parser.garbageBytes();
    s.pendingAtEnd = m_awaiting ? 1 : 0;
    return s;
}

// ---- to the bridge ---------------------------------------------------------------------------

void Unit::sendNext(std::int64_t nowMs) {
    if (!m_sessionStarted || m_exchange != Exchange::None || m_downloading ||
        !m_splitRest.empty() || nowMs < m_earliestSendMs)
        return;

    if (m_wantTables) {
        m_wantTables = false;
        ++m_sum.tableRequests;
        kv::CommandFrame f;
        f.setCode(kv::FromUnit::TableRequest);
        // A damaged request is not waited for: the bridge repeats its "tables changed".
        if (!transmit(f, nowMs, true))
            setExchange(Exchange::Tables, nowMs + ms(m_opt.answerTimeoutS));
        return;
    }
    if (m_wantStats) {
        m_wantStats = false;
        ++m_sum.statsSent;
        transmit(statisticsFrame(nowMs), nowMs, true);
        return;
    }
    if (m_wantChip) {
        m_wantChip = false;
        transmit(chipFrame(nowMs), nowMs, true);
        return;
    }
    if (m_wantClockReport) {
        m_wantClockReport = false;
        ++m_sum.clockReports;
        if (!transmit(clockReportFrame(nowMs), nowMs, true))
            setExchange(Exchange::ClockReport, nowMs + ms(m_opt.answerTimeoutS));
        return;
    }
    if (m_resendDue && m_awaiting) {
        m_resendDue = false;
        ++m_sum.eventsResent;
        transmit(m_awaiting->frame, nowMs, false);
        m_awaiting->damaged = false;
        setExchange(Exchange::Event, nowMs + ms(m_opt.answerTimeoutS));
        return;
    }
    if (m_awaiting || (m_opt.events >= 0 && m_nextOrdinal > m_opt.events) ||
        nowMs < m_nextEventDueMs)
        return;

    const long ordinal = m_nextOrdinal++;
    const kv::CommandFrame f = eventFrame(ordinal, nowMs);
    ++m_sum.eventsSent;
    m_lastChip = m_opt.chips[static_cast<std::size_t>(ordinal - 1) % m_opt.chips.size()];
    m_lastTerminal = m_opt.place;
    const bool damaged = transmit(f, nowMs, true);
    m_awaiting = PendingEvent{ordinal, f, damaged};
    setExchange(Exchange::Event,
                nowMs + (damaged ? m_opt.resendAfterMs : ms(m_opt.answerTimeoutS)));
    m_nextEventDueMs = nowMs + ms(m_opt.intervalS);
}

bool Unit::transmit(const kv::CommandFrame& f, std::int64_t nowMs, bool mayDamage) {
    ++m_transmissions;
    ++m_sum.framesSent;
    const std::string frame = onWire(f);
    const bool truncate =
        mayDamage && m_opt.truncateEvery > 0 && m_transmissions % m_opt.truncateEvery == 0;
    const bool backToBack = mayDamage && !truncate && m_opt.backToBackEvery > 0 &&
                            m_transmissions % m_opt.backToBackEvery == 0;

    std::string wire;
    std::string notes;
    if (m_opt.noise) {
        std::uniform_int_distribution<int> length(2, 8), value(0, 255);
        const int n = length(m_random);
        for (int i = 0; i < n; ++i) {
            int b = value(m_random);
            if (b == kZ) b = 0x5B;  // noise never holds a marker
            wire += static_cast<char>(b);
        }
        notes += " [noise " + kv::hexDump(wire) + "]";
    }
    const std::size_t frameStart = wire.size();
    if (truncate) {
        wire += frame.substr(0, 1 + kTruncatedDataBytes);
        notes += " [truncated to " + std::to_string(kTruncatedDataBytes) + " bytes]";
    } else {
        wire += frame;
    }
    if (backToBack) {
        const kv::CommandFrame second = statisticsFrame(nowMs);
        wire += onWire(second);
        notes += " [back to back with FC3 " + kv::hexDump(second.bytes) + "]";
    }
    if (m_opt.split && !truncate) {
        const std::size_t cut = frameStart + kSplitAfter;
        m_out += wire.substr(0, cut);
        m_splitRest = wire.substr(cut);
        m_splitRestMs = nowMs + m_opt.splitPauseMs;
        notes += " [split " + std::to_string(cut) + "+" + std::to_string(m_splitRest.size()) +
                 " after " + std::to_string(m_opt.splitPauseMs) + " ms]";
    } else {
        m_out += wire;
    }

    const bool damaged = truncate || backToBack;
    if (damaged) ++m_sum.damagedFrames;
    const std::int64_t quiet = damaged ? m_opt.resendAfterMs : m_opt.minGapMs;
    m_earliestSendMs = std::max(
        m_earliestSendMs, nowMs + quiet + (m_opt.split && !truncate ? m_opt.splitPauseMs : 0));
    log("unit>pc FC" + std::to_string(f.code()) + " " + describeFromUnit(f) + " | " +
        kv::hexDump(frame) + notes);
    return damaged;
}

kv::CommandFrame Unit::eventFrame(long ordinal, std::int64_t nowMs) const {
    const auto index = static_cast<std::size_t>(ordinal - 1) % m_opt.chips.size();
    const Chip& chip = m_opt.chips[index];
    const auto kod = static_cast<std::uint8_t>((index + 1) & 0xFF);
    const kv::WallTime t = m_clock.now(nowMs);
    kv::CommandFrame f;
    if (m_opt.cardEvery > 0 && ordinal % m_opt.cardEvery == 0) {
        f.setCode(kv::FromUnit::CardEvent);
        for (int i = 0; i < 6; ++i) f[2 + i] = chip[static_cast<std::size_t>(i)];
        f[8] = kod;
        f[9] = m_opt.eventType;
        f[10] = m_opt.place;
        kv::putTimeStamp(f, 11, t);
        return f;
    }
    // Alternation counts the events that can ask for a name, so card events do not skew it.
    const long withIndex = m_opt.cardEvery > 0 ? ordinal - ordinal / m_opt.cardEvery : ordinal;
    const bool askName = m_opt.nameRequest == NameRequest::Always ||
                         (m_opt.nameRequest == NameRequest::Alternate && withIndex % 2 == 1);
    f.setCode(kv::FromUnit::Event);
    f.setWord(2, static_cast<std::uint16_t>(ordinal & 0xFFFF));
    f[4] = kod;
    f[5] = m_opt.eventType;
    f[6] = m_opt.place;
    kv::putTimeStamp(f, 7, t);
    f[13] = askName ? 1 : 0;
    for (int n = 14; n <= 16; ++n) f[n] = m_opt.zInData ? kZ : 0;
    return f;
}

int Unit::queuedEvents(std::int64_t nowMs) const {
    const bool nextHappened = m_sessionStarted && nowMs >= m_nextEventDueMs &&
                              (m_opt.events < 0 || m_nextOrdinal <= m_opt.events);
    return (m_awaiting ? 1 : 0) + (nextHappened ? 1 : 0);
}

// Memory layout behind the positions: tables from 256 up (13 bytes per section-1 record, then
// 7 per section-2 record), then the event queue (11 bytes per event), free space, and the
// terminal area in the top 256 bytes.  The bridge's statistics arithmetic undoes exactly this.
namespace {
struct Layout {
    std::uint32_t terminals, section1End, section2End, queueEnd;
};
Layout layout(bool memory32k, std::size_t s1, std::size_t s2, int queued) {
    const std::uint32_t terminals = memory32k ? 0x7F00 : 0xFF00;
    const auto clamp = [terminals](std::uint64_t v) {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, terminals));
    };
    Layout l{terminals, clamp(256 + 13 * s1), 0, 0};
    l.section2End = clamp(l.section1End + 7 * s2);
    l.queueEnd = clamp(l.section2End + 11 * static_cast<std::uint64_t>(queued));
    return l;
}
}  // namespace

kv::CommandFrame Unit::statisticsFrame(std::int64_t nowMs) const {
    const Layout l = layout(m_opt.memory32k, m_table.section1.size(), m_table.section2.size(),
                            queuedEvents(nowMs));
    kv::CommandFrame f;
    f.setCode(kv::FromUnit::Statistics);
    f[2] = m_opt.memory32k ? 0x80 : 0;
    f[3] = static_cast<std::uint8_t>(m_parser.errors() & 0xFF);
    f[4] = static_cast<std::uint8_t>(m_transmissions & 0xFF);
    f[5] = m_lastTerminal;
    f.setWord(6, static_cast<std::uint16_t>(l.terminals));
    f.setWord(8, static_cast<std::uint16_t>(l.section1End));
    f.setWord(10, static_cast<std::uint16_t>(l.queueEnd));
    f.setWord(12, static_cast<std::uint16_t>(l.section2End));
    f[14] = static_cast<std::uint8_t>(m_sum.timedOut & 0xFF);
    f[15] = f[16] = m_opt.zInData ? kZ : 0;
    return f;
}

kv::CommandFrame Unit::chipFrame(std::int64_t nowMs) const {
    const Layout l = layout(m_opt.memory32k, m_table.section1.size(), m_table.section2.size(),
                            queuedEvents(nowMs));
    kv::CommandFrame f;
    f.setCode(kv::FromUnit::ChipNumber);
    if (m_lastChip)
        for (int i = 0; i < 6; ++i) f[2 + i] = (*m_lastChip)[static_cast<std::size_t>(i)];
    f.setWord(8, static_cast<std::uint16_t>(l.queueEnd));
    f.setWord(10, static_cast<std::uint16_t>(l.section2End));
    f.setWord(12, static_cast<std::uint16_t>(l.terminals));
    f[14] = m_opt.memory32k ? 0x80 : 0;
    f[15] = static_cast<std::uint8_t>(m_parser.errors() & 0xFF);
    f[16] = static_cast<std::uint8_t>(m_sum.timedOut & 0xFF);
    return f;
}

kv::CommandFrame Unit::clockReportFrame(std::int64_t nowMs) const {
    const kv::WallTime t = m_clock.now(nowMs);
    kv::CommandFrame f;
    f.setCode(kv::FromUnit::ClockReport);
    f[2] = 1;
    f[3] = static_cast<std::uint8_t>(t.month);
    f[4] = static_cast<std::uint8_t>(t.day);
    f[5] = static_cast<std::uint8_t>(t.hour);
    f[6] = static_cast<std::uint8_t>(t.minute);
    f[7] = static_cast<std::uint8_t>(t.second);
    for (int n = 8; n <= 16; ++n) f[n] = m_opt.zInData ? kZ : 0;
    return f;
}

}  // namespace kvsim
