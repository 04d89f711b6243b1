#include "app/ServiceMode.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <filesystem>

#include "app/FailureNotices.h"
#include "app/FirstStart.h"
#include "app/Logging.h"
#include "app/LoggingPrompts.h"
#include "app/ProcessWiring.h"
#include "link/Cp1250.h"
#include "run/Logging.h"
#include "run/ServiceNotify.h"
#include "sync/Bridge.h"
#include "sync/DriveC.h"

namespace kv {

int runService(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kvbridge"));
    ProcessWiring process(ProcessWiring::Mode::service);
    if (!process.claim()) return process.exitWhenOtherRuns();

    SystemClock clock;
    LoggingPrompts prompts;
    BridgeParts parts = BridgeParts::production(prompts, clock, std::filesystem::current_path());
    parts.firstConfig = firstConfigFromEnvironment(parts.workDir);
    Bridge bridge(std::move(parts));
    process.serve(bridge);
    // What the window would show of the last identification.  The same fields carry a
    // worker's name, a date and the state's words, which no one of the window's labels fits;
    // a field emptied says nothing.
    QObject::connect(&bridge, &Bridge::displayChanged, [](Field field, const ShownText& shown) {
        if ((field == Field::stavprac || field == Field::stavdatum || field == Field::stavcip) &&
            !shown.text.empty())
            qCInfo(lcApp).noquote() << QStringLiteral("V okně: ") + fromCp1250(shown.text);
    });
    // The history the window would keep, a line each: what an administrator reads back after a
    // weekend, dated by the log.
    QObject::connect(&bridge, &Bridge::historyAdded, [](const HistoryEntry& entry) {
        qCInfo(lcApp).noquote() << QStringLiteral("Historie: ") +
                                       QString::fromStdString(entry.text);
    });
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
    return process.exec([&bridge] {
        notifyStopping();
        bridge.end();
    });
}

}  // namespace kv
