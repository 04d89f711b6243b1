#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

#include "run/Logging.h"
#include "run/TerminationSignals.h"

namespace kv {

namespace {

// The handler may only do what is async-signal-safe: it writes the signal's number into a
// socket pair whose other end the event loop watches.
int g_pipe[2] = {-1, -1};
std::atomic<bool> g_requested{false};

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    if (g_requested.exchange(true)) {
        // Asked twice: whatever hangs in the clean end, the default action ends the process.
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
    }
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

}  // namespace

struct TerminationSignals::Platform {
    QSocketNotifier* notifier = nullptr;
    struct sigaction previous[std::size(kSignals)] = {};
    struct sigaction previousPipe = {};
};

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent), m_platform(std::make_unique<Platform>()) {
    Q_ASSERT(g_pipe[0] < 0);
    g_requested = false;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_pipe) != 0) {
        qCWarning(lcRun) << "SIGTERM, SIGINT and SIGHUP will end the bridge without its clean end:"
                         << qt_error_string(errno);
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    m_platform->notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_platform->notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (::read(g_pipe[0], &byte, 1) == 1) emit terminationRequested(int(byte));
    });

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // reads and waits in progress go on
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &m_platform->previous[i]);
    // Standard error into a pipe whose reader went away must not end the bridge.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &m_platform->previousPipe);
}

QString TerminationSignals::requestsToEnd() { return QStringLiteral("SIGTERM nebo SIGINT"); }

TerminationSignals::~TerminationSignals() {
    if (g_pipe[0] < 0) return;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &m_platform->previous[i], nullptr);
    ::sigaction(SIGPIPE, &m_platform->previousPipe, nullptr);
    delete m_platform->notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

}  // namespace kv
