#include "sync/UnitWatch.h"

#include <algorithm>

#include "link/Cp1250.h"
#include "sync/Logging.h"

namespace kv {

namespace {
constexpr const char* kNotAnsweringShort = "RJ neodpovídá!";
}

void UnitWatch::started() {
    if (m_startedAtMs) return;
    m_startedAtMs = m_clock.monotonicMs();
    m_heardSinceStart = false;
}

void UnitWatch::stopped() {
    m_startedAtMs.reset();
    m_askedAtMs.reset();
    m_probedAtMs.reset();
    m_view.change([](BridgeStatus& s) { s.unitSilent = s.unitSpokeBefore = false; });
}

void UnitWatch::heard() {
    m_askedAtMs.reset();
    m_heardSinceStart = true;
    // The unit answers after all: the words that said it did not fade, unless others have
    // taken their place.
    m_view.fadeFaultIf(Field::stavprac, cp1250(kNotAnsweringShort));
    m_view.record([&](BridgeStatus& s) { s.lastUnitFrameMs = m_clock.monotonicMs(); });
    if (!m_view.status().unitSilent) return;
    m_view.note("RJ opět odpovídá");
    m_view.change([](BridgeStatus& s) { s.unitSilent = s.unitSpokeBefore = false; });
}

void UnitWatch::silent(bool spokeBefore) {
    if (m_view.status().unitSilent) return;
    m_view.change([&](BridgeStatus& s) {
        s.unitSilent = true;
        s.unitSpokeBefore = spokeBefore;
    });
    const std::string words = unitSilenceText(m_view.status());
    qCWarning(lcSync).noquote() << QString::fromUtf8(words);
    if (!spokeBefore) m_view.note(words, Tone::warning);
}

bool UnitWatch::step(bool portLost, bool busy) {
    const std::int64_t now = m_clock.monotonicMs();
    if (portLost) {
        // A question the lost port took away is not the unit's to answer.
        m_askedAtMs.reset();
    } else if (m_askedAtMs && now - *m_askedAtMs >= kAnswerMs) {
        m_askedAtMs.reset();
        qCWarning(lcSync) << "the unit did not answer a question within 5 s";
        m_view.showFault(Field::stavprac, cp1250(kNotAnsweringShort),
                         cp1250(kUnitNotAnsweringText));
        m_view.note(kUnitNotAnsweringText, Tone::failure);
        silent(true);
    }
    if (!m_startedAtMs || portLost) {
        // A lost port is its own failure; the unit is judged again once the port is back.
        if (m_view.status().unitSilent && !m_view.status().unitSpokeBefore)
            m_view.change([](BridgeStatus& s) { s.unitSilent = false; });
        return false;
    }
    if (!m_heardSinceStart) {
        if (now - *m_startedAtMs >= kSilentMs) silent(false);
        return false;
    }
    // Quiet for long: asked, and again as long as it stays silent.
    const std::int64_t quietSince =
        std::max(m_view.status().lastUnitFrameMs.value_or(*m_startedAtMs),
                 m_probedAtMs.value_or(*m_startedAtMs));
    if (m_askedAtMs || busy || now - quietSince < kQuietMs) return false;
    m_probedAtMs = now;
    qCInfo(lcSync) << "nothing from the unit for" << (now - quietSince) / 60'000
                   << "min: its statistics asked";
    return true;
}

}  // namespace kv
