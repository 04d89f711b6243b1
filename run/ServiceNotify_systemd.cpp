#include <systemd/sd-daemon.h>

#include "run/ServiceNotify.h"

namespace kv {

void notifyReady() { sd_notify(0, "READY=1"); }
void notifyStatus(const std::string& line) {
    // One line: systemd shows what follows STATUS= up to the first line break.
    std::string text = line;
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    sd_notify(0, ("STATUS=" + text).c_str());
}
void notifyStopping() { sd_notify(0, "STOPPING=1"); }
void notifyAlive() { sd_notify(0, "WATCHDOG=1"); }

std::chrono::milliseconds watchdogInterval() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0) return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(usec / 1000);
}

}  // namespace kv
