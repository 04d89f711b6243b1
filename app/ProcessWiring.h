#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "run/BridgeLog.h"
#include "run/SingleInstance.h"
#include "run/TerminationSignals.h"

namespace kv {

class Bridge;

// What the window and the service share of being the bridge's process: one bridge per working
// directory, the log file, the system's requests to end and the local socket's questions.  Made
// after the application object and kept for as long as the event loop runs.
class ProcessWiring {
public:
    enum class Mode { window, service };
    explicit ProcessWiring(Mode mode);

    // Claims the working directory and, as its owner, opens the log and says so in it.  False
    // when another bridge owns the directory (it was asked to show its window): the start ends
    // here with exitWhenOtherRuns().
    bool claim();
    int exitWhenOtherRuns() const { return m_mode == Mode::window ? 0 : 1; }

    // From here on the local socket answers with bridge's status, and a request to end stops a
    // table download under way, runs beforeQuit (the window closes itself without asking) and
    // ends the event loop.
    void serve(Bridge& bridge, std::function<void()> beforeQuit = {});
    SingleInstance& instance() { return m_instance; }

    // Runs the event loop, then beforeEnd, and logs the end; returns the loop's exit status.
    int exec(const std::function<void()>& beforeEnd = {});

private:
    Mode m_mode;
    SingleInstance m_instance;
    std::optional<BridgeLog> m_log;
    std::optional<TerminationSignals> m_termination;
};

}  // namespace kv
