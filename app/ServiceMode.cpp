#include "app/ServiceMode.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <filesystem>

#include "app/FailureNotices.h"
#include "app/FieldStore.h"
#include "app/FirstStart.h"
#include "app/Logging.h"
#include "app/LoggingPrompts.h"
#include "app/StatusReport.h"
#include "run/BridgeLog.h"
#include "run/Logging.h"
#include "run/ServiceNotify.h"
#include "run/SingleInstance.h"
#include "run/TerminationSignals.h"
#include "sync/Bridge.h"
#include "sync/DriveC.h"

namespace kv {

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
    quitOnTermination(termination);
    qCInfo(lcRun).noquote() << QStringLiteral("kvbridge started as a service in %1 (process %2)")
                                   .arg(QDir::toNativeSeparators(QDir::currentPath()))
                                   .arg(QCoreApplication::applicationPid());
    if (!instance.detail().isEmpty()) qCWarning(lcRun).noquote() << instance.detail();

    SystemClock clock;
    LoggingPrompts prompts;
    FieldStore fields;
    BridgeParts parts;
    parts.fields = &fields;
    parts.prompts = &prompts;
    parts.clock = &clock;
    parts.serialFactory = [] { return makeQtSerialDevice(); };
    parts.httpFactory = [](QObject* parent) { return makeQtHttpControl(parent); };
    parts.workDir = std::filesystem::current_path();
    parts.driveC = driveCRoot();
    parts.firstConfig = firstConfigFromEnvironment(parts.workDir);
    Bridge bridge(std::move(parts));
    instance.setStatusAnswer(
        [&bridge, &fields] { return statusAnswer(bridge, fields, QDir::currentPath()); });
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &bridge,
                     [&bridge] { bridge.engine().setEnding(); });
    // Ready once the bridge does its steady work: serving the unit, or waiting for a port that
    // is not there (which may last; STATUS= says so).  A delayed start is still starting.
    const QString instanceName = QDir::toNativeSeparators(QDir::currentPath());
    bool ready = false;
    const auto tell = [&ready, instanceName](const BridgeStatus& status) {
        notifyStatus(instanceName.toStdString() + ": " + statusLine(status));
        if (!ready && status.state != CommState::stopped &&
            status.state != CommState::delayedStart) {
            ready = true;
            notifyReady();
        }
    };
    QObject::connect(&bridge, &Bridge::statusChanged, tell);
    // A failure that lasts is logged as a warning, as the window's tray would show it.
    FailureNotices notices(bridge);
    if (!bridge.programStart(Bridge::AutoStart::always)) {
        qCCritical(lcRun) << "nothing to run: kvbridge ended";
        return 1;
    }
    tell(bridge.status());
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
