#include "app/ProcessWiring.h"

#include <QCoreApplication>
#include <QDir>

#include "app/StatusReport.h"
#include "run/Logging.h"
#include "sync/Bridge.h"

namespace kv {

ProcessWiring::ProcessWiring(Mode mode) : m_mode(mode), m_instance(QDir::currentPath()) {
    BridgeLog::applyDefaultFilterRules();
}

bool ProcessWiring::claim() {
    // Decided before the log file is opened, so only the owner writes it.
    if (m_instance.claim() == SingleInstance::Claim::otherRunning) {
        if (m_mode == Mode::window)
            qCInfo(lcRun).noquote() << m_instance.detail();
        else
            qCCritical(lcRun).noquote() << m_instance.detail();
        return false;
    }
    LogOptions options;
    // Standard error as ever for the window; for the service one line each, for the journal.
    options.toStderr =
        m_mode == Mode::window ? LogOptions::Stderr::plain : LogOptions::Stderr::journal;
    m_log.emplace(options);
    // A request to end that comes before serve() waits on the event loop until then.
    m_termination.emplace();
    qCInfo(lcRun).noquote() << QStringLiteral("kvbridge started%1 in %2 (process %3)")
                                   .arg(m_mode == Mode::service ? " as a service" : "")
                                   .arg(QDir::toNativeSeparators(QDir::currentPath()))
                                   .arg(QCoreApplication::applicationPid());
    if (!m_instance.detail().isEmpty()) qCWarning(lcRun).noquote() << m_instance.detail();
    return true;
}

void ProcessWiring::serve(Bridge& bridge, std::function<void()> beforeQuit) {
    m_instance.setStatusAnswer([&bridge] { return statusAnswer(bridge, QDir::currentPath()); });
    // A table download under way breaks off first (on a slow line it would hold the end for
    // minutes), unless it is through within 10 s.
    quitOnTermination(*m_termination, std::move(beforeQuit), [&bridge](std::function<void()> quit) {
        bridge.whenRunEnds(std::move(quit));
    });
}

int ProcessWiring::exec(const std::function<void()>& beforeEnd) {
    const int status = QCoreApplication::exec();
    if (beforeEnd) beforeEnd();
    qCInfo(lcRun) << "kvbridge ended";
    return status;
}

}  // namespace kv
