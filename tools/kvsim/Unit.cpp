#include "Unit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "FrameText.h"

namespace kvsim {

namespace {

Chip chipOf(std::uint64_t v) {
    Chip c{};
    for (int i = 5; i >= 0; --i, v >>= 8) c[static_cast<std::size_t>(i)] = v & 0xFF;
    return c;
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
    m_nextEventDueMs = nowMs + secondsToMs(m_opt.intervalS);
    m_wantStats = m_wantStats || m_opt.statsAtStart;
    m_wantClockReport = m_wantClockReport || m_opt.clockReportAtStart;
    if (m_opt.statsEveryS > 0) m_nextStatsMs = nowMs + secondsToMs(m_opt.statsEveryS);
    if (m_opt.clockReportEveryS > 0)
        m_nextClockReportMs = nowMs + secondsToMs(m_opt.clockReportEveryS);
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
        case ToUnit::setClock:
        case ToUnit::startOfCommunication:
            if (const auto t = stampOf(f)) {
                m_clock.set(*t, nowMs);
                ++m_sum.clockSets;
                m_sum.lastClockSet = t;
                log("unit    clock set to " + formatCivil(*t));
            } else {
                log("unit    time out of range, clock left as it is");
            }
            if (f.toUnitCode() == ToUnit::setClock && m_exchange == Exchange::clockReport)
                setExchange(Exchange::none, 0);
            break;
        case ToUnit::tablesBegin:
            if (m_downloading) {
                ++m_sum.incompleteDownloads;
                log("unit    previous table download never ended; discarded");
            }
            m_incoming = {};
            m_downloading = true;
            m_downloadDeadlineMs = nowMs + m_opt.downloadGapMs;
            if (m_exchange == Exchange::tables) setExchange(Exchange::none, 0);
            break;
        case ToUnit::section1Record:
        case ToUnit::section2Record:
            if (!m_downloading) {
                log("unit    table record outside a download; ignored");
                break;
            }
            (f.toUnitCode() == ToUnit::section1Record ? m_incoming.section1 : m_incoming.section2)
                .push_back(f);
            m_downloadDeadlineMs = nowMs + m_opt.downloadGapMs;
            break;
        case ToUnit::tablesEnd:
            if (m_downloading)
                finishDownload(nowMs);
            else
                log("unit    end of a download that never began; ignored");
            break;
        case ToUnit::answer:
            handleAnswer(f, nowMs);
            break;
        case ToUnit::tablesChanged:
            ++m_sum.tablesChanged;
            m_wantTables = true;
            break;
        case ToUnit::statisticsRequest:
            ++m_sum.statsRequests;
            m_wantStats = true;
            break;
        case ToUnit::chipNumberRequest:
            ++m_sum.chipRequests;
            m_wantChip = true;
            break;
        case ToUnit::fictitiousEvent:
            ++m_sum.fictitiousEvents;
            break;
        default:
            ++m_sum.unknownFrames;
            break;
    }
}

void Unit::handleAnswer(const kv::CommandFrame& f, std::int64_t /*nowMs*/) {
    if (m_exchange != Exchange::event || !m_awaiting) {
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
    setExchange(Exchange::none, 0);
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
    if (m_exchange != Exchange::none && nowMs >= m_exchangeDeadlineMs) {
        switch (m_exchange) {
            case Exchange::event:
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
            case Exchange::tables:
                log("unit    tables asked for but not sent");
                break;
            case Exchange::clockReport:
                log("unit    clock reported but not set");
                break;
            case Exchange::none:
                break;
        }
        setExchange(Exchange::none, 0);
    }
    const auto periodic = [nowMs](std::optional<std::int64_t>& next, double everyS, bool& want) {
        if (!next || nowMs < *next) return;
        want = true;
        *next += secondsToMs(everyS);
        if (*next <= nowMs) *next = nowMs + secondsToMs(everyS);
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
    // 6 bytes per 25 ms is 2400 baud: the bridge sees frames arrive piece by piece, and its
    // purges fall into the middle of them.
    if (!m_burst.empty() && nowMs >= m_burstNextMs) {
        m_out += m_burst.substr(0, 6);
        m_burst.erase(0, 6);
        m_burstNextMs = nowMs + 25;
    }
    sendNext(nowMs);
    if (!m_eventsDoneMs && eventsDone()) m_eventsDoneMs = nowMs;
    if (m_eventsDoneMs && nowMs >= *m_eventsDoneMs + secondsToMs(m_opt.lingerS))
        m_lingerOver = true;
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
    if (m_exchange != Exchange::none) consider(m_exchangeDeadlineMs);
    if (!m_splitRest.empty()) consider(m_splitRestMs);
    if (!m_burst.empty()) consider(m_burstNextMs);
    if (m_nextStatsMs) consider(*m_nextStatsMs);
    if (m_nextClockReportMs) consider(*m_nextClockReportMs);
    const bool lineFree = m_sessionStarted && m_exchange == Exchange::none && !m_downloading &&
                          m_splitRest.empty() && m_burst.empty();
    if (lineFree) {
        if (m_wantTables || m_wantStats || m_wantChip || m_wantClockReport || m_resendDue)
            consider(m_earliestSendMs);
        else if (!m_awaiting && (m_opt.events < 0 || m_nextOrdinal <= m_opt.events))
            consider(std::max(m_earliestSendMs, m_nextEventDueMs));
    }
    if (m_eventsDoneMs && !m_opt.forever && !m_lingerOver)
        consider(*m_eventsDoneMs + secondsToMs(m_opt.lingerS));
    return wake;
}

bool Unit::finished(std::int64_t nowMs) const {
    return !m_opt.forever && m_eventsDoneMs &&
           nowMs >= *m_eventsDoneMs + secondsToMs(m_opt.lingerS) && m_exchange == Exchange::none &&
           !m_downloading && m_splitRest.empty();
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

}  // namespace kvsim
