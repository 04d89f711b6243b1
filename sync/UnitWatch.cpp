// What the bridge tells of the unit: whether it answers.  A unit is quiet at night too, so
// silence alone says nothing; after a long quiet it is asked for its statistics, the read-only
// question of "Aktualizuj statistiku RJ", and an unanswered question is what tells.
#include <algorithm>
#include <utility>

#include "link/Cp1250.h"
#include "sync/Engine.h"
#include "sync/Logging.h"

namespace kv {

void Engine::unitHeard() {
    m_status.lastUnitFrameMs = m_clock.monotonicMs();
    m_unitAskedAtMs.reset();
    m_unitHeardSinceStart = true;
    // The unit answers after all: the words that said it did not fade, unless others have
    // taken their place.
    if (std::exchange(m_notAnsweringShown, false)) fadeFault(Field::stavprac);
    if (!m_status.unitSilent) return;
    m_status.unitSilent = false;
    m_status.unitSpokeBefore = false;
    note("RJ opět odpovídá");
    publish();
}

void Engine::unitIsSilent(bool spokeBefore) {
    if (m_status.unitSilent) return;
    m_status.unitSilent = true;
    m_status.unitSpokeBefore = spokeBefore;
    const std::string words = unitSilenceText(m_status);
    qCWarning(lcSync).noquote() << QString::fromUtf8(words);
    if (!spokeBefore) note(words, Tone::warning);
    publish();
}

void Engine::watchUnit() {
    const std::int64_t now = m_clock.monotonicMs();
    if (m_status.state == CommState::portLost) {
        // A question the lost port took away is not the unit's to answer.
        m_unitAskedAtMs.reset();
    } else if (m_unitAskedAtMs && now - *m_unitAskedAtMs >= kUnitAnswerMs) {
        m_unitAskedAtMs.reset();
        qCWarning(lcSync) << "the unit did not answer a question within 5 s";
        showFault(Field::stavprac, cp1250("RJ neodpovídá!"), cp1250(kUnitNotAnsweringText));
        m_notAnsweringShown = true;
        note(kUnitNotAnsweringText, Tone::failure);
        unitIsSilent(true);
    }
    if (!m_startedAtMs || m_status.state == CommState::portLost) {
        // A lost port is its own failure; the unit is judged again once the port is back.
        if (m_status.unitSilent && !m_status.unitSpokeBefore) {
            m_status.unitSilent = false;
            publish();
        }
        return;
    }
    if (!m_unitHeardSinceStart) {
        if (now - *m_startedAtMs >= kUnitSilentMs) unitIsSilent(false);
        return;
    }
    // Quiet for long: asked, and again as long as it stays silent.  Not while a frame is read
    // or a request runs: the unit may be waiting for an answer of its own then.
    const std::int64_t quietSince = std::max(m_status.lastUnitFrameMs.value_or(*m_startedAtMs),
                                             m_unitProbedAtMs.value_or(*m_startedAtMs));
    if (!m_unitAskedAtMs && now - quietSince >= kUnitQuietMs &&
        m_exchange.kind == RequestKind::none && !m_reception.underWay() &&
        !m_reception.inputWaiting()) {
        m_unitProbedAtMs = now;
        qCInfo(lcSync) << "nothing from the unit for" << (now - quietSince) / 60'000
                       << "min: its statistics asked";
        if (sendWithTime(ToUnit::statisticsRequest)) m_unitAskedAtMs = now;
    }
}

}  // namespace kv
