#include <windows.h>

#include <QPointer>
#include <csignal>

#include "run/TerminationSignals.h"

namespace kv {

namespace {

QPointer<TerminationSignals> g_target;

// Runs on a thread of its own that the console creates; the request is handed to the event
// loop.  For close, logoff and shutdown Windows ends the process soon after this returns, so
// the clean end has only those few seconds.
BOOL WINAPI onConsoleEvent(DWORD event) {
    int signalNumber = 0;
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            signalNumber = SIGINT;
            break;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            signalNumber = SIGTERM;
            break;
        default:
            return FALSE;
    }
    TerminationSignals* target = g_target.data();
    if (!target) return FALSE;
    QMetaObject::invokeMethod(
        target, [target, signalNumber] { emit target->terminationRequested(signalNumber); },
        Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

struct TerminationSignals::Platform {};

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent), m_platform(std::make_unique<Platform>()) {
    g_target = this;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

QString TerminationSignals::requestsToEnd() {
    return QStringLiteral("Ctrl+C nebo Ctrl+Break v jeho konzoli nebo na zavření konzole");
}

TerminationSignals::~TerminationSignals() {
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    g_target = nullptr;
}

}  // namespace kv
