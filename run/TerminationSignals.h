#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace kv {

// Turns the operating system's requests to end (SIGTERM, SIGINT and SIGHUP; on Windows the
// console's Ctrl+C, Ctrl+Break, close and shutdown events) into a Qt signal on the event loop, so
// the bridge ends the same clean way as when its window is closed.  A second request while the
// first is still being handled ends the program at once, as the default action would.
// One object at a time; it holds the handlers for its lifetime (on Unix it also ignores SIGPIPE,
// so a standard error whose reader went away does not end the bridge).
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // How a person or the system asks the bridge to end, for the Czech help text: "SIGTERM
    // nebo SIGINT"; on Windows Ctrl+C and the closing of its console.
    static QString requestsToEnd();

signals:
    // signalNumber: SIGTERM, SIGINT or SIGHUP (Windows: SIGINT for Ctrl+C and Ctrl+Break, SIGTERM
    // for close, logoff and shutdown).
    void terminationRequested(int signalNumber);

private:
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};

// Every event loop ends at the first request, also a prompt's that waits for a click nobody
// gives, and one that arrives before the main loop runs ends that loop as soon as it starts.
// beforeQuit runs first (the window closes itself without asking).  whenReady, when given, is
// handed the quitting and runs it once what must finish first has (at once when nothing must).
using WhenReady = std::function<void(std::function<void()> quit)>;
void quitOnTermination(TerminationSignals& termination, std::function<void()> beforeQuit = {},
                       WhenReady whenReady = {});

}  // namespace kv
