#pragma once

#include <functional>
#include <string>

namespace kv {

// The communication at a glance, for the window's indicator, the tray and the log.
enum class CommState {
    stopped,            // Stop pressed, or never started
    delayedStart,       // waiting for a converter that needs time after the PC boots
    running,            // the port is open and the unit is served
    portLost,           // the port went away; it is reopened when it comes back
    serverUnreachable,  // the last web request failed to reach the web application
};

// A change of state with its cause in Czech (UTF-8), e.g. the port and its device.
using CommStateListener = std::function<void(CommState state, const std::string& detail)>;

}  // namespace kv
