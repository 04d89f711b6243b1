#include "sync/Reconnect.h"

#include <exception>
#include <filesystem>

#include "link/Cp1250.h"
#include "sync/Logging.h"

namespace kv {

namespace {
constexpr Check kPorts[] = {Check::cfgport1, Check::cfgport2, Check::cfgport3, Check::cfgport4};
}

Reconnect::Reconnect(Engine& engine, TQCCom32& com, Fields& fields, QTimer& tick, QObject* parent)
    : QObject(parent), m_engine(engine), m_com(com), m_fields(fields), m_tick(tick) {
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &Reconnect::retryNow);
    connect(&m_com, &TQCCom32::deviceLost, this, &Reconnect::lost);
}

std::string Reconnect::portText(int port) {
    return "Port COM" + std::to_string(port) + " (" + portDeviceName(port) + ")";
}

void Reconnect::lost() {
    // Lost while communication runs: the tick goes on for the reply that may be under way.
    if (m_engine.commState() == CommState::stopped) return;
    wait(portText(m_com.Port()) + " ztracen, čekám na jeho návrat");
}

void Reconnect::unattendedStart(const std::function<void()>& start) {
    std::exception_ptr failure;  // passed on once the port has been seen to
    const bool showErrors = m_com.ShowErrors();
    m_com.setShowErrors(false);
    try {
        start();
    } catch (...) {
        failure = std::current_exception();
    }
    m_com.setShowErrors(showErrors);
    int port = 0;
    for (int i = 0; i < 4; ++i)
        if (m_fields.checked(kPorts[i])) port = i + 1;
    if (!m_com.Opened() && port != 0) {
        // A converter that comes up after the PC: its port opens later.
        m_com.setPortField(port);
        m_fields.setChecked(Check::stavjede, true);
        wait(portText(port) + " není k dispozici, čekám na něj");
    }
    if (failure) std::rethrow_exception(failure);
}

void Reconnect::wait(const std::string& detail) {
    m_fields.setText(Field::stavprac, cp1250(detail));
    m_engine.setCommState(CommState::portLost, detail);
    m_retry.start();
}

bool Reconnect::retryNow() {
    // Stop, or a start of the operator's, has decided since.
    if (m_engine.commState() != CommState::portLost || m_com.Opened()) {
        m_retry.stop();
        return m_com.Opened();
    }
    const bool showErrors = m_com.ShowErrors();
    m_com.setShowErrors(false);
    const bool opened = m_com.Open();
    m_com.setShowErrors(showErrors);
    if (opened) resume();
    return opened;
}

void Reconnect::resume() {
    m_retry.stop();
    EngineState& state = m_engine.state();
    m_engine.purgeInput();
    state.receiveSettle = 0;
    std::error_code ec;
    std::filesystem::remove(m_engine.paths().workDir / "send.tmp", ec);
    m_fields.setChecked(Check::stavjede, true);
    m_engine.sendWithTime(ToUnit::StartOfCommunication);
    const std::string detail = portText(m_com.Port()) + " je zpět";
    m_fields.setText(Field::stavprac, cp1250(detail));
    m_engine.setCommState(CommState::running, detail);
    if (!m_tick.isActive()) m_tick.start();
}

}  // namespace kv
