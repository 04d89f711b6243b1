// What the window, or a run without one, asks of the engine: start and stop of communication,
// the single commands, the recalculation and the run of fictitious events.

#include "link/Deadline.h"
#include "sync/Engine.h"
#include "sync/EventLog.h"
#include "sync/Logging.h"
#include "sync/TableDownload.h"

namespace kv {

namespace {
constexpr int kUnitBaud = 2400;
constexpr int kDelayedStartSeconds = 50;
}  // namespace

bool Engine::startCommunication(int port, std::optional<std::uint16_t> companyId) {
    m_state.slowFrameCounter = 0;
    bool opened = false;
    if (port >= 1 && port <= 4) {
        m_com.setBaud(kUnitBaud);
        m_com.setPort(port);
        opened = m_com.Open();
    }
    if (opened) {
        m_fields.setChecked(Check::stavjede, true);
        purgeInput();  // with whatever the engine had read but not yet looked at
        std::error_code ec;
        std::filesystem::remove(m_paths.workDir / "send.tmp", ec);
        sendWithTime(ToUnit::StartOfCommunication);
        qCInfo(lcSync) << "communication started on port" << port;
        setCommState(CommState::running);
    } else {
        setCommState(CommState::stopped);
    }
    m_state.receiveSettle = 0;
    m_state.requestKind = RequestKind::None;
    m_state.serverPhase = ServerPhase::Idle;
    m_state.replyDeadline.reset();
    if (companyId) {
        m_state.companyId = *companyId;
        m_state.idleTicks = 0;
        m_state.nameRequested = 0;
    }
    return opened;
}

void Engine::stopCommunication() {
    m_com.Close();
    m_fields.setChecked(Check::stavstoji, true);
    setCommState(CommState::stopped);
}

void Engine::setCommState(CommState state, const std::string& detail) {
    if (state == m_commState && detail == m_commDetail) return;
    m_commState = state;
    m_commDetail = detail;
    static constexpr const char* kNames[] = {"stopped", "delayed start", "running", "port lost",
                                             "server unreachable"};
    qCInfo(lcSync).noquote() << "communication:" << kNames[static_cast<int>(state)]
                             << QString::fromStdString(detail);
    if (m_commListener) m_commListener(state, detail);
    for (const CommStateListener& listener : m_moreCommListeners) listener(state, detail);
}

void Engine::addStandingWarning(const std::string& warning) {
    m_warnings.push_back(warning);
    qCWarning(lcSync).noquote() << "until the next program start:"
                                << QString::fromStdString(warning);
    for (const WarningsListener& listener : m_warningsListeners) listener(m_warnings);
}

void Engine::resetForProgramStart() {
    m_state.tableSyncCountdown = 0;
    endTableBackOff();
    m_state.slowFrameCounter = 0;
    m_state.triggerFileError = false;
    if (!m_warnings.empty()) {
        m_warnings.clear();
        for (const WarningsListener& listener : m_warningsListeners) listener(m_warnings);
    }
    if (TableDownload::takeUnfinished(m_paths.workDir)) m_state.tableSyncCountdown = 1;
}

void Engine::delayedStart() {
    setCommState(CommState::delayedStart);
    m_fields.setText(Field::stavprac, "PRODLEVA 50 VTERIN");
    Deadline target = Deadline::secondsAhead(m_clock, kDelayedStartSeconds);
    while (!target.expired()) {
        const std::int64_t left = target.remainingMs();
        const std::int64_t seconds = (left + 999) / 1000;
        m_fields.setText(Field::stavprac, "PRODLEVA " + std::to_string(seconds) + " VTERIN");
        target.sleepSlice(left % 1000 == 0 ? 1000 : left % 1000);  // to the next full second
        waitHook();
    }
    m_fields.setText(Field::stavprac, "Pracovnik");
}

std::string operationMessage(OperationResult result) {
    switch (result) {
        case OperationResult::done:
            return {};
        case OperationResult::communicationStopped:
            return "Komunikace s RJ je zastavena. Nejprve stiskněte Start.";
        case OperationResult::requestUnderWay:
            return "Požadavek na docházkový server právě probíhá. Zkuste to znovu za chvíli.";
    }
    return {};
}

bool Engine::communicationStopped() const {
    return m_commState == CommState::stopped || m_commState == CommState::delayedStart;
}

OperationResult Engine::command(ToUnit frameCode) {
    if (communicationStopped()) return OperationResult::communicationStopped;
    // The operator announcing the tables is a new start for them.
    if (frameCode == ToUnit::TablesChanged) endTableBackOff();
    sendWithTime(frameCode);
    return OperationResult::done;
}

OperationResult Engine::recalculate() {
    // Without ticks its reply would never be taken, and every later click would be refused.
    if (communicationStopped()) return OperationResult::communicationStopped;
    // Replacing the outstanding request would lose the answer the unit is waiting for.
    if (m_state.serverPhase != ServerPhase::Idle) return OperationResult::requestUnderWay;
    m_state.requestUrl = recalculationUrl(requestSettings());
    issueRequest(m_state.requestUrl, RequestKind::Recalculation);
    return OperationResult::done;
}

OperationResult Engine::sendFictitiousEvents(std::uint16_t count) {
    if (communicationStopped()) return OperationResult::communicationStopped;
    std::uint16_t number = 0;
    m_state.slowFrameCounter = 1;
    bool stopped = false;
    for (int i = 0; i < count && !stopped; ++i) {
        const WallTime t = m_clock.now();
        CommandFrame& f = m_state.frame;
        f.setCode(ToUnit::FictitiousEvent);
        ++number;
        // The number's low byte four times over: bytes 3 to 6 of an event frame.
        f.setWord(2, number);
        for (int b = 4; b <= 6; ++b) f[b] = f[3];
        putTimeStamp(f, 7, t);
        zobraz();
        stopped = !progress(Progress::fictitiousEvent, i + 1, count);
    }
    m_fields.setText(Field::fiktud, "0");
    if (!stopped) sendWithTime(ToUnit::StatisticsRequest);
    m_state.slowFrameCounter = 0;
    return OperationResult::done;
}

}  // namespace kv
