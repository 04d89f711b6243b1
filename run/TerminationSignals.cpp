#include "run/TerminationSignals.h"

#include <QCoreApplication>

#include "run/Logging.h"

namespace kv {

void quitOnTermination(TerminationSignals& termination, std::function<void()> beforeQuit) {
    QObject::connect(&termination, &TerminationSignals::terminationRequested, qApp,
                     [beforeQuit = std::move(beforeQuit)](int signalNumber) {
                         qCInfo(lcRun) << "signal" << signalNumber << "received: ending";
                         if (beforeQuit) beforeQuit();
                         QCoreApplication::exit(0);
                         QMetaObject::invokeMethod(
                             qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
                     });
}

}  // namespace kv
