#include "sync/UnitCopies.h"

#include "link/FrameCodes.h"
#include "sync/EventLog.h"
#include "sync/Logging.h"

namespace kv {

bool isIdentification(std::uint8_t code) {
    return code == static_cast<std::uint8_t>(FromUnit::event) ||
           code == static_cast<std::uint8_t>(FromUnit::cardEvent);
}

void UnitCopies::forwarded(const CommandFrame& identification) {
    m_forwarded = Forwarded{};
    m_forwarded->frame = identification;
}

void UnitCopies::settled() {
    if (m_forwarded && !m_forwarded->answerEndsAt)
        m_forwarded->settledAt = m_reception.reader().received();
}

void UnitCopies::answerOnItsWay(const CommandFrame& identification) {
    if (!m_forwarded || m_forwarded->frame != identification) return;
    m_forwarded->settledAt.reset();
    m_forwarded->answerEndsAt = m_line.handed();
    m_forwarded->answerSentMs = m_clock.monotonicMs();
    look();
}

void UnitCopies::look() {
    if (!m_forwarded || !m_forwarded->answerEndsAt) return;
    const std::int64_t now = m_clock.monotonicMs();
    const std::optional<std::int64_t> left = m_line.leftAtMs(*m_forwarded->answerEndsAt);
    // An answer the device still holds after the line's stall time, or that a closed port holds,
    // may never leave: the cut falls then, as for a request without an answer.
    const std::int64_t givenUpMs = m_forwarded->answerSentMs + UnitLine::kStallMs;
    if (left ? *left > now : m_com.Opened() && now < givenUpMs) {
        m_forwarded->answerLookMs = left ? *left : givenUpMs;
        return;
    }
    m_reception.collectArrived();
    m_forwarded->settledAt = m_reception.reader().received();
    m_forwarded->answerEndsAt.reset();
}

std::optional<std::int64_t> UnitCopies::lookDueMs() const {
    if (!m_forwarded || !m_forwarded->answerEndsAt) return std::nullopt;
    return m_forwarded->answerLookMs;
}

bool UnitCopies::inFlight(const CommandFrame& f) {
    // However much of a copy came after the answer had left, the unit began it before it could
    // hear the answer: its first byte decides.
    if (!m_forwarded || !isIdentification(f.code()) || f != m_forwarded->frame) return false;
    const std::uint64_t marker = m_reception.reader().taken() - (1 + f.bytes.size());
    if (m_forwarded->settledAt && marker >= *m_forwarded->settledAt) return false;
    ++m_forwarded->repeats;
    qCInfo(lcSync).noquote().nospace()
        << "the unit's repeat " << m_forwarded->repeats
        << " of the identification already forwarded, not forwarded again: " << describeFromUnit(f);
    return true;
}

const UnitCopies::Verdict* UnitCopies::replayFor(const CommandFrame& f) {
    if (!isIdentification(f.code())) return nullptr;
    // Another identification ends what may be replayed: the unit has moved on.
    if (m_verdict &&
        (f != m_verdict->frame || m_clock.monotonicMs() - m_verdict->atMs > kReplayWindowMs))
        m_verdict.reset();
    return m_verdict ? &*m_verdict : nullptr;
}

bool UnitCopies::firstRead(const CommandFrame& f) {
    // A copy forwarded again, after its answer went out unheard, is the same identification.
    if (f == m_lastRead) return false;
    m_lastRead = f;
    return true;
}

}  // namespace kv
