// What the window, or a run without one, asks of the engine: start and stop of communication,
// the single commands, the recalculation and the run of fictitious events.

#include <utility>

#include "link/Cp1250.h"
#include "link/EventFields.h"
#include "link/PortErrorText.h"
#include "link/PortProbe.h"
#include "sync/Engine.h"
#include "sync/EventLog.h"
#include "sync/Logging.h"
#include "sync/TableDownload.h"

namespace kv {

namespace {
constexpr int kUnitBaud = 2400;

// The port's words, made here only.  "Port COM1": what fits the status field.
std::string shortPortText(const TQCCom32& com) { return "Port COM" + std::to_string(com.Port()); }
// "Port COM1 ztracen (/dev/ttyUSB0)": what happened first, the device last; on Windows, where
// port n is COMn itself, without it.
std::string portLine(const TQCCom32& com, const std::string& happened) {
    const std::string device = portDeviceName(com.Port());
    const std::string label = portLabel(com.Port(), device).toStdString();  // "COM1 (/dev/…)"
    const std::size_t open = label.find(" (");
    return shortPortText(com) + " " + happened +
           (open == std::string::npos ? std::string() : label.substr(open));
}
// Why a lost port still waits, by what its reopening found.
std::string stillWaiting(const TQCCom32& com, const PortResult& found) {
    switch (found.cause) {
        case PortCause::otherDevice:
            return portLine(com, "je teď jiné zařízení, čekám na původní");
        case PortCause::missing:
        case PortCause::unknown:
            return portLine(com, "není k dispozici, čekám na něj");
        default:
            return "Port " +
                   portErrorText(com.Port(), portDeviceName(com.Port()), found).toStdString();
    }
}

// Events the unit is sent as if its terminals had read them, numbered from 1, and then the
// request for its statistics, which count them.  Asked to end, the run ends before its next
// frame, without the request.
class FictitiousEvents : public UnitJob {
public:
    FictitiousEvents(std::uint16_t count, const CommandFrame& first)
        : m_count(count), m_frame(first) {}
    JobProgress::Kind kind() const override { return JobProgress::Kind::fictitiousEvents; }
    std::optional<Frame> next(const WallTime& now) override {
        if (m_asked) return std::nullopt;
        if (m_given == m_count) {
            m_asked = true;
            m_frame.setCode(ToUnit::statisticsRequest);
            pridejcas(m_frame, now);
            return Frame{m_frame};
        }
        m_frame.setCode(ToUnit::fictitiousEvent);
        const auto number = ++m_given;
        // An event's layout: the number as its index, its low byte also as code, type and place.
        const auto low = static_cast<std::uint8_t>(number & 0xFF);
        event::setIndex(m_frame, number);
        event::setCode(m_frame, low);
        event::setKind(m_frame, low);
        event::setPlace(m_frame, low);
        event::setTime(m_frame, now);
        return Frame{m_frame};
    }
    void left(const CommandFrame& frame) override {
        if (frame.toUnitCode() == ToUnit::fictitiousEvent) ++m_left;
    }
    std::uint64_t done() const override { return m_left; }
    std::uint64_t total() const override { return m_count; }

private:
    std::uint16_t m_count;
    std::uint16_t m_given = 0;  // events handed to the line
    std::uint16_t m_left = 0;   // events that have left it
    bool m_asked = false;       // the statistics request was handed over
    CommandFrame m_frame;
};
}  // namespace

PortResult Engine::startCommunication(int port, std::optional<std::uint16_t> companyId) {
    if (port < 1 || port > 4) return PortCause::missing;
    // Start again during a run: the port is opened anew, and a table download is announced
    // again.
    m_line.cancel();
    m_line.endBurst();
    m_com.setBaud(kUnitBaud);
    m_com.setPort(port);
    m_view.change([&](BridgeStatus& s) {
        s.port = portLabel(m_com.Port(), portDeviceName(m_com.Port())).toStdString();
    });
    const PortResult opened = m_com.Open();
    m_health.forget();
    if (opened.done()) {
        m_startedOnce = true;
        resumeCommunication();
        m_view.note(std::string(stateLook(CommState::running).name) + " – " +
                    m_com.portText().toStdString());
        qCInfo(lcSync) << "communication started on port" << port;
    } else {
        m_view.setState(CommState::stopped);
        m_view.note(
            "Start se nezdařil: " + portErrorText(port, portDeviceName(port), opened).toStdString(),
            Tone::failure);
    }
    m_reception.reset();
    endRequest();
    if (companyId) {
        m_companyId = *companyId;
        m_idleTicks = 0;
        m_nameRequested = 0;
    }
    return opened;
}

void Engine::resumeCommunication(const std::string& cause) {
    purgeInput();  // with whatever the engine had read but not yet looked at
    std::error_code ec;
    std::filesystem::remove(m_paths.workDir / "send.tmp", ec);
    sendWithTime(ToUnit::startOfCommunication);
    m_watch.started();
    // A failure's text does not outlive the failure.
    m_view.clearFaults();
    if (!cause.empty()) m_view.show(Field::stavprac, cp1250(cause));
    // The port's return ends the port's failure only: a server that failed before stays
    // failing until a delivery, without a moment of "running" in between to be told.
    m_view.change([&](BridgeStatus& s) {
        s.portAwaited = false;
        const auto& fault = m_health.fault();
        if (fault) s.faultOf = fault->of;
        s.state = fault ? CommState::serverFailing : CommState::running;
        s.cause = fault ? fault->cause : cause;
    });
}

void Engine::stopCommunication() {
    // A run under way ends before its next frame; a table download through within 10 s runs to
    // its closing frame first, and the port closes after it.
    if (!askJobToEnd()) m_com.Close();
    // A frame under way is not read on: nothing is due until the next Start.
    m_reception.reset();
    if (m_view.status().state != CommState::stopped)
        m_view.note(stateLook(CommState::stopped).name);
    m_view.clearFaults();
    m_watch.stopped();
    m_view.setState(CommState::stopped);
}

void Engine::portLost() {
    // Lost while communication runs: the tick goes on for the reply that may be under way.
    if (communicationStopped()) return;
    // The field is narrow: the words that say what happened; the device with them in the
    // status's tooltips and the history.
    // A pseudo-terminal named by its own number has ended for good: another port is needed.
    const std::string cause =
        endsForGoodWhenLost(portDeviceName(m_com.Port()))
            ? portLine(m_com, "ztracen: virtuální port skončil, zvolte jiný port v Porty?")
            : portLine(m_com, "ztracen, čekám na jeho návrat");
    m_view.showFault(Field::stavprac, cp1250(shortPortText(m_com) + " ztracen"));
    m_view.setState(CommState::portLost, cause);
    m_view.note(cause, Tone::failure);
}

void Engine::waitForPort(int port, const PortResult& why) {
    // A converter that comes up after the PC: its port opens later.
    m_com.setPort(port);
    m_view.change([&](BridgeStatus& s) {
        s.port = portLabel(m_com.Port(), portDeviceName(m_com.Port())).toStdString();
    });
    // A name that leads to something other than a serial port is said as it is.
    const bool absent = why.cause == PortCause::missing || why.cause == PortCause::unknown;
    const std::string cause =
        absent ? portLine(m_com, "není k dispozici, čekám na něj")
               : "Port " + portErrorText(port, portDeviceName(port), why).toStdString();
    m_view.showFault(Field::stavprac,
                     cp1250(absent ? "Čekám na port COM" + std::to_string(m_com.Port()) : cause));
    m_view.change([&](BridgeStatus& s) {
        s.portAwaited = true;
        s.state = CommState::portLost;
        s.cause = cause;
    });
}

bool Engine::reopenPort() {
    // Stop, or a start of the operator's, has decided since.
    if (m_view.status().state != CommState::portLost || m_com.Opened()) return m_com.Opened();
    if (const PortResult found = m_com.reopenSameDevice(); !found.done()) {
        // Another device behind the name, or none: the state says why it still waits, with the
        // device, and so does the history; the narrow field keeps its short words.
        const std::string why = stillWaiting(m_com, found);
        if (why != m_view.status().cause) {
            m_view.note(why, Tone::failure);
            m_view.change([&](BridgeStatus& s) { s.cause = why; });
        }
        return false;
    }
    resumeCommunication(portLine(m_com, "je zpět"));
    m_view.show(Field::stavprac, cp1250(shortPortText(m_com) + " je zpět"));
    m_view.note(portLine(m_com, "je zpět"));
    return true;
}

void Engine::noteIdentification(const std::string& text, Tone tone) {
    const auto& bytes = m_carried.event.bytes;
    m_view.note(text, tone, text + '\n' + std::string(bytes.begin(), bytes.end()));
}

void Engine::deliveryFailed(const std::string& cause, FaultOf of) {
    deliveryFailed(cause, of, m_exchange.kind());
}

void Engine::deliveryFailed(const std::string& cause, FaultOf of, RequestKind kind) {
    // A failed poll is no identification lost: counted apart.
    m_view.change(
        [&](BridgeStatus& s) { ++(kind == RequestKind::event ? s.failed : s.otherFailed); });
    if (kind == RequestKind::event && !m_carried.identification.empty())
        noteIdentification(m_carried.identification + " – nepředáno: " + cause, Tone::failure);
    m_health.failed(cause, of, kind);
}

void Engine::resetForProgramStart() {
    m_tables.reset();
    m_line.endBurst();
    m_view.change([](BridgeStatus& s) { s.warnings.clear(); });
    if (TableDownload::takeUnfinished(m_paths.workDir)) m_tables.announce();
}

void Engine::showDelayedStart(int secondsLeft) {
    if (secondsLeft <= 0) {
        m_view.show(Field::stavprac, "Pracovnik");
        return;
    }
    if (m_view.status().state != CommState::delayedStart)
        m_view.setState(
            CommState::delayedStart,
            "komunikace začne po " + std::to_string(secondsLeft) + " s, až naběhne převodník");
    m_view.show(Field::stavprac, "PRODLEVA " + std::to_string(secondsLeft) + " VTERIN");
}

std::string operationMessage(OperationResult result) {
    switch (result) {
        case OperationResult::done:
            return {};
        case OperationResult::communicationStopped:
            return "Komunikace s RJ je zastavena. Nejprve stiskněte Start.";
        case OperationResult::requestUnderWay:
            return "Požadavek na docházkový server právě probíhá. Zkuste to znovu za chvíli.";
        case OperationResult::unitBusy:
            return "Do RJ se právě posílají tabulky nebo fiktivní události. Zkuste to znovu, až "
                   "přenos skončí.";
        case OperationResult::notSent:
            return "Příkaz nebyl do RJ odeslán: sériový port není k dispozici (odpojen nebo "
                   "zavřen).";
    }
    return {};
}

bool Engine::communicationStopped() const { return !communicationOn(m_view.status().state); }

OperationResult Engine::command(ToUnit frameCode) {
    // Before the first Start no port has been chosen for the unit; after a Stop the command
    // goes to the port of the last Start, opened for it and left open (the tick stays off, so
    // what the unit answers is read after the next Start).
    const bool stopped = communicationStopped();
    if (stopped && (!m_startedOnce || m_view.status().state != CommState::stopped))
        return OperationResult::communicationStopped;
    // A frame between a run's frames would be taken for one of them.
    if (m_line.running()) return OperationResult::unitBusy;
    if (stopped && !m_com.Opened() && !m_com.Open().done()) return OperationResult::notSent;
    // The operator announcing the tables is a new start for them.
    if (frameCode == ToUnit::tablesChanged) m_tables.endBackOff();
    if (!sendWithTime(frameCode)) return OperationResult::notSent;
    if (!stopped &&
        (frameCode == ToUnit::statisticsRequest || frameCode == ToUnit::chipNumberRequest))
        m_watch.asked();
    // The operator's commands leave their line: what they changed in the fields is overwritten
    // by the next frame.
    static constexpr struct {
        ToUnit code;
        const char* told;
    } kTold[] = {{ToUnit::setClock, "Čas odeslán do RJ"},
                 {ToUnit::chipNumberRequest, "Dotaz na číslo čipu odeslán do RJ"},
                 {ToUnit::statisticsRequest, "Dotaz na statistiku odeslán do RJ"},
                 {ToUnit::tablesChanged, "Do RJ oznámena změna tabulek"}};
    for (const auto& command : kTold)
        if (command.code == frameCode) m_view.note(command.told);
    return OperationResult::done;
}

OperationResult Engine::recalculate() {
    // The recalculation is the server's alone and needs no unit: it goes out while
    // communication is stopped too, and the bridge ticks for its reply (serverStep).
    // Replacing the outstanding request would lose the answer the unit is waiting for.
    if (m_exchange.phase() != ServerPhase::idle) return OperationResult::requestUnderWay;
    RequestSettings settings = requestSettings();
    // Stopped, the company is the one the settings give: Start has not taken it over yet.
    if (communicationStopped())
        if (const auto id = parseIntegerText(m_settings.idfirmy))
            settings.companyId = std::uint16_t(*id);
    if (issueRequest(recalculationUrl(settings), RequestKind::recalculation))
        m_view.note("Přepočet docházky odeslán na server");
    return OperationResult::done;
}

void Engine::serverStep() {
    // A table download that Stop let finish.
    if (m_line.running()) return m_line.drive();
    awaitReply();
    processReply();
}

OperationResult Engine::sendFictitiousEvents(std::uint16_t count) {
    if (communicationStopped()) return OperationResult::communicationStopped;
    if (m_line.running()) return OperationResult::unitBusy;
    startJob(
        std::make_unique<FictitiousEvents>(count, m_frame), [this](UnitJob& job, UnitJob::End) {
            if (job.done() > 0)
                m_view.note("Do RJ posláno " + std::to_string(job.done()) + " fiktivních událostí");
        });
    return OperationResult::done;
}

}  // namespace kv
