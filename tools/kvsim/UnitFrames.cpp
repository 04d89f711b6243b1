// What the unit sends to the bridge: which frame goes next, how each frame is built (events,
// statistics, the chip number, the clock report) and how it goes on the line.
#include <algorithm>
#include <random>

#include "FrameText.h"
#include "Unit.h"
#include "link/EventFields.h"

namespace kvsim {

namespace {

constexpr std::uint8_t kZ = 0x5A;
constexpr std::size_t kTruncatedDataBytes = 10;
constexpr std::size_t kSplitAfter = 8;  // 'Z' and the first 7 frame bytes

std::string onWire(const kv::CommandFrame& f) {
    std::string s(1, static_cast<char>(kZ));
    s.append(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
    return s;
}

}  // namespace

// ---- choice and transmission
// ---------------------------------------------------------------------------

void Unit::sendNext(std::int64_t nowMs) {
    if (!m_sessionStarted || m_exchange != Exchange::none || m_downloading ||
        !m_splitRest.empty() || !m_burst.empty() || nowMs < m_earliestSendMs)
        return;

    if (m_wantTables) {
        m_wantTables = false;
        ++m_sum.tableRequests;
        kv::CommandFrame f;
        f.setCode(kv::FromUnit::tableRequest);
        // A damaged request is not waited for: the bridge repeats its "tables changed".
        if (!transmit(f, nowMs, true))
            setExchange(Exchange::tables, nowMs + secondsToMs(m_opt.answerTimeoutS));
        for (int i = 0; i < m_opt.burstWithTables; ++i) {
            kv::CommandFrame b = i % 2 ? chipFrame(nowMs) : statisticsFrame(nowMs);
            b[16] = static_cast<std::uint8_t>(i);  // each frame of the burst its own
            m_burst += onWire(b);
            ++m_sum.framesSent;
            log("unit>pc FC" + std::to_string(b.code()) + " " + describeFromUnit(b) + " | " +
                kv::hexDump(onWire(b)) + " [burst]");
        }
        m_burstNextMs = nowMs;
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
            setExchange(Exchange::clockReport, nowMs + secondsToMs(m_opt.answerTimeoutS));
        return;
    }
    if (m_resendDue && m_awaiting) {
        m_resendDue = false;
        ++m_sum.eventsResent;
        transmit(m_awaiting->frame, nowMs, false);
        m_awaiting->damaged = false;
        setExchange(Exchange::event, nowMs + secondsToMs(m_opt.answerTimeoutS));
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
    setExchange(Exchange::event,
                nowMs + (damaged ? m_opt.resendAfterMs : secondsToMs(m_opt.answerTimeoutS)));
    m_nextEventDueMs = nowMs + secondsToMs(m_opt.intervalS);
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

// ---- the frames
kv::CommandFrame Unit::eventFrame(long ordinal, std::int64_t nowMs) const {
    const auto index = static_cast<std::size_t>(ordinal - 1) % m_opt.chips.size();
    const Chip& chip = m_opt.chips[index];
    const auto kod = static_cast<std::uint8_t>((index + 1) & 0xFF);
    const kv::WallTime t = m_clock.now(nowMs);
    kv::CommandFrame f;
    if (m_opt.cardEvery > 0 && ordinal % m_opt.cardEvery == 0) {
        f.setCode(kv::FromUnit::cardEvent);
        kv::cardEvent::setCard(f, chip);
        kv::cardEvent::setCode(f, kod);
        kv::cardEvent::setKind(f, m_opt.eventType);
        kv::cardEvent::setPlace(f, m_opt.place);
        kv::cardEvent::setTime(f, t);
        return f;
    }
    // Alternation counts the events that can ask for a name, so card events do not skew it.
    const long withIndex = m_opt.cardEvery > 0 ? ordinal - ordinal / m_opt.cardEvery : ordinal;
    const bool askName = m_opt.nameRequest == NameRequest::always ||
                         (m_opt.nameRequest == NameRequest::alternate && withIndex % 2 == 1);
    f.setCode(kv::FromUnit::event);
    kv::event::setIndex(f, static_cast<std::uint16_t>(ordinal & 0xFFFF));
    kv::event::setCode(f, kod);
    kv::event::setKind(f, m_opt.eventType);
    kv::event::setPlace(f, m_opt.place);
    kv::event::setTime(f, t);
    kv::event::setWantsName(f, askName ? 1 : 0);
    for (int n = kv::event::kWantsNameByte + 1; n <= 16; ++n) f[n] = m_opt.zInData ? kZ : 0;
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
    f.setCode(kv::FromUnit::statistics);
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
    f.setCode(kv::FromUnit::chipNumber);
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
    f.setCode(kv::FromUnit::clockReport);
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
