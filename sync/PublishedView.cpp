#include "sync/PublishedView.h"

#include <QString>

#include "sync/Logging.h"

namespace kv {

PublishedView::PublishedView(Clock& clock, std::string instance) : m_clock(clock) {
    m_status.instance = std::move(instance);
    m_published = m_status;
}

void PublishedView::setState(CommState state, const std::string& cause) {
    m_status.state = state;
    m_status.cause = cause;
    publish();
}

void PublishedView::addStandingWarning(const std::string& warning) {
    m_status.warnings.push_back(warning);
    qCWarning(lcSync).noquote() << "until the next program start:"
                                << QString::fromStdString(warning);
    note(warning, Tone::warning);
    publish();
}

void PublishedView::publish() {
    Tone tone = stateLook(m_status.state).tone;
    if (tone == Tone::normal && (!m_status.warnings.empty() || m_status.unitSilent))
        tone = Tone::warning;
    m_status.tone = tone;
    if (m_status == m_published) return;
    if (m_status.state != m_published.state || m_status.cause != m_published.cause)
        qCInfo(lcSync).noquote() << "communication:" << stateLogName(m_status) << "–"
                                 << QString::fromStdString(statusLine(m_status));
    m_published = m_status;
    if (m_statusListener) m_statusListener(m_status);
}

void PublishedView::show(Field field, std::string_view cp1250, Tone tone, std::string_view whole) {
    m_faultShown.reset(std::size_t(field));
    if (m_display.set(field, cp1250, tone, whole) && m_displayListener)
        m_displayListener(field, m_display[field]);
}

void PublishedView::showFault(Field field, std::string_view cp1250, std::string_view whole) {
    show(field, cp1250, Tone::failure, whole);
    m_faultShown.set(std::size_t(field));
}

void PublishedView::clearFaults() {
    for (std::size_t i = 0; i < kFieldCount; ++i)
        if (m_faultShown.test(i)) fadeFault(Field(i));
}

void PublishedView::fadeFault(Field field) {
    // The text stays until something overwrites it: the operator who comes back sees what
    // happened; only its tone says it is over.
    if (!m_faultShown.test(std::size_t(field))) return;
    show(field, m_display.text(field), Tone::normal, m_display[field].whole);
}

void PublishedView::fadeFaultIf(Field field, std::string_view cp1250) {
    if (m_display.text(field) == cp1250) fadeFault(field);
}

void PublishedView::note(const std::string& text, Tone tone, std::string event) {
    if (event.empty() && tone != Tone::normal) event = text;
    if (m_historyListener)
        m_historyListener(HistoryEntry{m_clock.now(), text, tone, std::move(event)});
}

}  // namespace kv
