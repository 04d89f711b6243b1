#include "app/ServiceMode.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "app/FieldStore.h"
#include "app/Logging.h"
#include "app/LoggingPrompts.h"
#include "link/Cp1250.h"
#include "link/TQCCom32.h"
#include "run/BridgeLog.h"
#include "run/Logging.h"
#include "run/ServiceNotify.h"
#include "run/SingleInstance.h"
#include "run/TerminationSignals.h"
#include "sync/DriveC.h"
#include "sync/Engine.h"
#include "sync/Files.h"
#include "sync/HttpControl.h"
#include "sync/Reconnect.h"
#include "sync/TerminalConfig.h"

namespace kv {

namespace {

// The window's engine, timer and port without the window.
class HeadlessBridge {
public:
    HeadlessBridge(Clock& clock, Prompts& prompts, std::filesystem::path workDir)
        : m_prompts(prompts), m_workDir(std::move(workDir)) {
        m_com = std::make_unique<TQCCom32>([] { return makeQtSerialDevice(); }, prompts, clock);
        m_http = makeQtHttpControl(nullptr);
        m_engine = std::make_unique<Engine>(*m_com, *m_http, m_fields, clock,
                                            EnginePaths{m_workDir, driveCRoot()});
        // A long table download lets the loop turn: the watchdog is fed and an end is noted.
        m_engine->setWaitHook([] { QCoreApplication::processEvents(); });
        m_tick.setInterval(100);
        m_tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_tick, &QTimer::timeout,
                         [this] { guarded([this] { m_engine->tick(); }); });
        m_reconnect = std::make_unique<Reconnect>(*m_engine, *m_com, m_fields, m_tick);
    }

    // terminal.cfg as the window reads it (created with the defaults when missing), then the
    // start of communication whatever its line 4 says.  False when there is nothing to run.
    bool start() {
        bool ok = true;
        guarded([&] {
            const std::filesystem::path cfg = m_workDir / "terminal.cfg";
            if (!std::filesystem::exists(cfg)) {
                writeFileAnew(cfg, formatTerminalConfig(defaultTerminalConfig()));
                qCWarning(lcApp) << "terminal.cfg was missing: created with the defaults";
            }
            applyTerminalConfig(parseTerminalConfig(readWholeFile(cfg)), m_fields);
            const int port = selectedPort(m_fields);
            if (port == 0) {
                m_prompts.report(QStringLiteral("Kordavo"),
                                 QStringLiteral("terminal.cfg nevybírá žádný sériový port (řádek 1 "
                                                "musí být 1 až 4)."));
                ok = false;
                return;
            }
            const Bytes idText = m_fields.text(Field::idfirmy);
            const auto id = parseIntegerText(idText);
            m_reconnect->unattendedStart([&] {
                if (m_engine->startCommunication(
                        port, id ? std::optional(std::uint16_t(*id)) : std::nullopt))
                    m_tick.start();
            });
            m_engine->resetForProgramStart();
            if (!id)
                m_prompts.report(
                    QStringLiteral("Kordavo"),
                    QStringLiteral("'%1' není platné číslo firmy.").arg(fromCp1250(idText)));
        });
        return ok;
    }

    // Communication stopped, port closed, a request under way cancelled, its files removed.
    void end() {
        m_tick.stop();
        m_engine->stopCommunication();
        m_http->cancel();
        std::error_code ec;
        std::filesystem::remove(m_engine->getTmp(), ec);
        std::filesystem::remove(m_engine->getTxt(), ec);
    }

private:
    void guarded(const std::function<void()>& step) {
        // A tick that waits lets the loop turn; the ticks that fall due meanwhile are skipped.
        if (m_busy) return;
        m_busy = true;
        try {
            step();
        } catch (const std::exception& e) {
            m_prompts.report(QStringLiteral("Kordavo"), QString::fromUtf8(e.what()));
        }
        m_busy = false;
    }

    Prompts& m_prompts;
    std::filesystem::path m_workDir;
    FieldStore m_fields;
    std::unique_ptr<TQCCom32> m_com;
    std::unique_ptr<HttpControl> m_http;
    std::unique_ptr<Engine> m_engine;
    QTimer m_tick;
    std::unique_ptr<Reconnect> m_reconnect;
    bool m_busy = false;
};

}  // namespace

int runService(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kvbridge"));
    BridgeLog::applyDefaultFilterRules();
    SingleInstance instance(QDir::currentPath());
    if (instance.claim() == SingleInstance::Claim::otherRunning) {
        qCCritical(lcRun).noquote() << instance.detail();
        return 1;
    }
    LogOptions options;
    options.toStderr = LogOptions::Stderr::journal;
    BridgeLog log(options);
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &app,
                     [](int signalNumber) {
                         qCInfo(lcRun) << "signal" << signalNumber << "received: ending";
                         QCoreApplication::exit(0);
                         // Also when it came before the loop runs.
                         QMetaObject::invokeMethod(
                             qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
                     });
    qCInfo(lcRun).noquote() << QStringLiteral("kvbridge started as a service in %1 (process %2)")
                                   .arg(QDir::toNativeSeparators(QDir::currentPath()))
                                   .arg(QCoreApplication::applicationPid());
    if (!instance.detail().isEmpty()) qCWarning(lcRun).noquote() << instance.detail();

    SystemClock clock;
    LoggingPrompts prompts;
    HeadlessBridge bridge(clock, prompts, std::filesystem::current_path());
    if (!bridge.start()) {
        qCCritical(lcRun) << "nothing to run: kvbridge ended";
        return 1;
    }
    notifyReady();
    QTimer watchdog;
    if (const auto interval = watchdogInterval(); interval.count() > 0) {
        QObject::connect(&watchdog, &QTimer::timeout, [] { notifyAlive(); });
        watchdog.start(interval / 2);
    }
    const int status = app.exec();
    notifyStopping();
    bridge.end();
    qCInfo(lcRun) << "kvbridge ended";
    return status;
}

}  // namespace kv
