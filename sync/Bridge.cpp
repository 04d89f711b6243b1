#include "sync/Bridge.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

#include "link/Cp1250.h"
#include "sync/DriveC.h"
#include "sync/Files.h"
#include "sync/Logging.h"
#include "sync/QtHttpControl.h"

namespace kv {

BridgeParts BridgeParts::production(Prompts& prompts, Clock& clock, std::filesystem::path workDir) {
    BridgeParts parts;
    parts.prompts = &prompts;
    parts.clock = &clock;
    parts.serialFactory = [] { return makeQtSerialDevice(); };
    parts.httpFactory = [](QObject* parent) { return makeQtHttpControl(parent); };
    parts.workDir = std::move(workDir);
    parts.driveC = driveCRoot();
    return parts;
}

Bridge::Bridge(BridgeParts parts, QObject* parent) : QObject(parent), m_parts(std::move(parts)) {
    m_com = std::make_unique<TQCCom32>(m_parts.serialFactory);
    m_com->setObjectName(QStringLiteral("QCCom321"));
    m_http = m_parts.httpFactory(nullptr);
    m_engine = std::make_unique<Engine>(*m_com, *m_http, *m_parts.clock,
                                        EnginePaths{m_parts.workDir, m_parts.driveC});
    m_engine->view().setStatusListener([this](const BridgeStatus& status) {
        followState(status);
        emit statusChanged(status);
    });
    m_engine->view().setHistoryListener(
        [this](const HistoryEntry& entry) { emit historyAdded(entry); });
    m_engine->view().setDisplayListener(
        [this](Field field, const ShownText& shown) { emit displayChanged(field, shown); });
    m_engine->setJobListener([this](const JobProgress& progress) {
        if (progress.kind == JobProgress::Kind::none && m_afterRun)
            QTimer::singleShot(0, this, std::exchange(m_afterRun, nullptr));
        emit jobProgress(progress);
    });
    // The loss is taken after the write that found it, never inside it.
    connect(
        m_com.get(), &TQCCom32::deviceLost, this, [this] { m_engine->portLost(); },
        Qt::QueuedConnection);

    m_tick.setObjectName(QStringLiteral("Timer1"));
    m_tick.setInterval(kTickMs);
    m_tick.setTimerType(Qt::PreciseTimer);  // the 254-tick repetition is 25.4 s
    connect(&m_tick, &QTimer::timeout, this, [this] { handle([this] { tick(); }); });
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);  // slower transfer's bursts start on the second
    connect(&m_wake, &QTimer::timeout, this, [this] { handle([this] { m_engine->wake(); }); });
    // Queued: the serial layer also tells of input from inside a look at the port or a write.
    connect(
        m_com.get(), &TQCCom32::inputArrived, this,
        [this] { handle([this] { m_engine->inputArrived(); }); }, Qt::QueuedConnection);
    // The line's next frame goes when the device has taken the last: told queued, as input is.
    connect(
        m_com.get(), &TQCCom32::bytesWritten, this,
        [this] { handle([this] { m_engine->outputTaken(); }); }, Qt::QueuedConnection);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &Bridge::retryPortNow);
}

Bridge::~Bridge() { end(); }

void Bridge::report(const QString& text) {
    qCWarning(lcSync).noquote() << text;
    m_parts.prompts->report(QStringLiteral("Kordavo"), text);
}

void Bridge::handle(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::exception& e) {
        report(QString::fromUtf8(e.what()));
    }
    followWake();
}

void Bridge::followWake() {
    const auto due = m_engine->wakeDueMs();
    const std::int64_t now = m_parts.clock->monotonicMs();
    // A wake that left the same instant due changed nothing: woken again at once it would spin.
    // The tick looks again.
    const bool stuck = due && due == m_lastWake && *due <= now && !m_engine->jobRunning();
    m_lastWake = due;
    if (!due || stuck) return m_wake.stop();
    m_wake.start(int(std::clamp<std::int64_t>(*due - now, 0, kTickMs)));
}

OperationResult Bridge::command(ToUnit frameCode) { return m_engine->command(frameCode); }

OperationResult Bridge::sendFictitiousEvents(std::uint16_t count) {
    return m_engine->sendFictitiousEvents(count);
}

bool Bridge::pollServer() { return m_engine->pollServer(); }

void Bridge::whenRunEnds(std::function<void()> then) {
    if (m_engine->askJobToEnd()) {
        qCInfo(lcSync) << "the end waits for the table download to finish";
        m_afterRun = std::move(then);
        followWake();
        return;
    }
    then();
}

void Bridge::followState(const BridgeStatus& status) {
    const bool ticking = status.state != CommState::stopped || m_engine->requestOutstanding();
    if (ticking && !m_tick.isActive()) m_tick.start();
    if (!ticking) m_tick.stop();
    if (status.state == CommState::portLost) {
        if (!m_retry.isActive()) m_retry.start();
    } else {
        m_retry.stop();
    }
}

void Bridge::loadConfig() {
    const std::filesystem::path cfg = configPath();
    std::error_code ec;
    if (!std::filesystem::exists(cfg, ec)) {
        replaceFile(cfg, formatTerminalConfig(m_parts.firstConfig));
        qCWarning(lcSync) << "terminal.cfg was missing: created";
        emit configCreated();
    }
    const Bytes bytes = readWholeFile(cfg);
    // An empty file is left as it is, its settings empty until Uložit writes them: defaults
    // written over it would pass for settings somebody chose.
    if (bytes.empty()) {
        qCWarning(lcSync) << "terminal.cfg is empty: no settings";
        emit configEmpty();
    }
    TerminalConfig config = parseTerminalConfig(bytes);
    if (config.port.find('\n') != Bytes::npos)
        qCWarning(lcSync) << "terminal.cfg ends its lines with LF alone: read as one line";
    const bool tooLong = config.adresa.size() > kMaxAddressLength;
    if (tooLong) config.adresa.clear();
    m_engine->setSettings(config);
    emit settingsLoaded(config);
    if (tooLong) {
        m_parts.prompts->message(
            QStringLiteral("Kordavo"),
            QStringLiteral("Adresa serveru v terminal.cfg je příliš dlouhá, nebyla převzata."));
    }
}

bool Bridge::programStart(AutoStart mode) {
    m_tick.stop();
    try {
        loadConfig();
    } catch (const std::exception& e) {
        report(QString::fromUtf8(e.what()));
        return false;
    }
    m_engine->resetForProgramStart();
    if (mode == AutoStart::asConfigured && !optionOn(settings().start)) return true;
    if (mode == AutoStart::always && configuredPort(settings()) == 0) {
        // Lines ended by LF alone are one line, as the file has always been read: its first
        // line then holds them all, and the reason is the line ends, not the port's number.
        report(settings().port.find('\n') != Bytes::npos
                   ? QStringLiteral("terminal.cfg má řádky ukončené jen LF, a tak se čte jako "
                                    "jediný řádek, který nevybírá sériový port. Uložte nastavení "
                                    "v okně (Uložit), nebo ukončete řádky CR LF.")
                   : QStringLiteral(
                         "terminal.cfg nevybírá žádný sériový port (řádek 1 musí být 1 až 4)."));
        return false;
    }
    if (optionOn(settings().slowstart)) {
        // An Ethernet-to-serial converter gets time to come up; the loop turns meanwhile.
        m_delayedUntilMs = m_parts.clock->monotonicMs() + kDelayedStartSeconds * 1000;
        m_delayedShown = -1;
        delayedStartTick();
        return true;
    }
    unattendedStart();
    return true;
}

void Bridge::delayedStartTick() {
    const std::int64_t left = *m_delayedUntilMs - m_parts.clock->monotonicMs();
    const int seconds = left > 0 ? int((left + 999) / 1000) : 0;
    if (seconds != m_delayedShown) {
        m_delayedShown = seconds;
        m_engine->showDelayedStart(seconds);
    }
    if (seconds > 0) return;
    m_delayedUntilMs.reset();
    unattendedStart();
}

void Bridge::tick() {
    if (m_delayedUntilMs) {
        delayedStartTick();
    } else if (m_engine->status().state == CommState::stopped) {
        m_engine->serverStep();
        if (!m_engine->requestOutstanding()) m_tick.stop();
    } else {
        m_engine->tick();
    }
}

OperationResult Bridge::recalculate() {
    const OperationResult result = m_engine->recalculate();
    if (m_engine->requestOutstanding() && !m_tick.isActive()) m_tick.start();
    return result;
}

void Bridge::unattendedStart() {
    const PortResult opened = start();
    const int port = configuredPort(settings());
    if (!m_com->Opened() && port != 0) m_engine->waitForPort(port, opened);
}

PortResult Bridge::start() {
    m_delayedUntilMs.reset();
    const int port = configuredPort(settings());
    if (port == 0) {
        // Nothing is opened and nothing changes: a running communication goes on.
        m_parts.prompts->message(QStringLiteral("Kordavo"),
                                 QStringLiteral("Není vybrán sériový port!"));
        return {};
    }
    const Bytes idText = settings().idfirmy;
    const auto id = parseIntegerText(idText);
    const PortResult opened =
        m_engine->startCommunication(port, id ? std::optional(std::uint16_t(*id)) : std::nullopt);
    if (!id) {
        // A NUL typed into the id (or read from a damaged terminal.cfg) would cut the text.
        const QString shown = fromCp1250(idText).replace(QChar(u'\0'), QChar(u'?'));
        report(QStringLiteral("'%1' není platné číslo firmy.").arg(shown));
    }
    return opened;
}

void Bridge::stop() {
    if (m_delayedUntilMs) {
        m_delayedUntilMs.reset();
        m_engine->showDelayedStart(0);
    }
    m_engine->stopCommunication();
}

void Bridge::end() {
    m_tick.stop();
    m_retry.stop();
    m_wake.stop();
    stop();
    // Stop keeps the tick for a request still awaited; at the end nothing is awaited.
    m_tick.stop();
    m_http->cancel();
    m_engine->deleteReplyFiles();
}

void Bridge::saveConfig() {
    replaceFile(configPath(), formatTerminalConfig(settings()));
    qCInfo(lcSync) << "configuration saved to terminal.cfg";
}

bool Bridge::retryPortNow() {
    handle([this] { m_engine->reopenPort(); });
    return m_com->Opened();
}

}  // namespace kv
