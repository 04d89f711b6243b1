// What the bridge tells of the unit without asking it anything: whether it answers.
#include <utility>

#include "link/Cp1250.h"
#include "sync/Engine.h"
#include "sync/Logging.h"

namespace kv {

namespace {
constexpr const char* kNotAnswering = "RJ neodpovídá – zkontrolujte port a kabel";
}  // namespace

void Engine::unitHeard() {
    m_status.lastUnitFrameMs = m_clock.monotonicMs();
    m_unitAskedAtMs.reset();
    m_unitHeardSinceStart = true;
    // The unit answers after all: the words that said it did not fade, unless others have
    // taken their place.
    if (std::exchange(m_notAnsweringShown, false)) fadeFault(Field::stavprac);
    if (!m_status.unitSilent) return;
    m_status.unitSilent = false;
    note("RJ se ozvala");
    publish();
}

void Engine::watchUnit() {
    const std::int64_t now = m_clock.monotonicMs();
    if (m_unitAskedAtMs && now - *m_unitAskedAtMs >= kUnitAnswerMs) {
        m_unitAskedAtMs.reset();
        qCWarning(lcSync) << "the unit did not answer the operator's question within 5 s";
        showFault(Field::stavprac, cp1250(kNotAnswering));
        m_notAnsweringShown = true;
        note(kNotAnswering, Tone::failure);
    }
    // A unit is silent at night too; only one that never spoke since Start is suspicious.
    const bool silent = m_startedAtMs && !m_unitHeardSinceStart &&
                        m_status.state != CommState::portLost &&
                        now - *m_startedAtMs >= kUnitSilentMs;
    if (silent == m_status.unitSilent) return;
    m_status.unitSilent = silent;
    if (silent) {
        qCWarning(lcSync).noquote() << QString::fromUtf8(kUnitSilentText);
        note(kUnitSilentText, Tone::warning);
    }
    publish();
}

}  // namespace kv
