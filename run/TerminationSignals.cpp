#include "run/TerminationSignals.h"

#include <QCoreApplication>

#include "run/Logging.h"

namespace kv {

void quitOnTermination(TerminationSignals& termination, std::function<void()> beforeQuit,
                       WhenReady whenReady) {
    QObject::connect(
        &termination, &TerminationSignals::terminationRequested, qApp,
        [beforeQuit = std::move(beforeQuit), whenReady = std::move(whenReady)](int signalNumber) {
            qCInfo(lcRun) << "signal" << signalNumber << "received: ending";
            const auto quit = [beforeQuit] {
                if (beforeQuit) beforeQuit();
                QCoreApplication::exit(0);
                QMetaObject::invokeMethod(
                    qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
            };
            if (whenReady)
                whenReady(quit);
            else
                quit();
        });
}

}  // namespace kv
