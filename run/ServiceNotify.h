#pragma once

#include <chrono>
#include <string>

namespace kv {

// What the service manager is told, where the build has systemd's library; elsewhere these do
// nothing.  ready once communication has been started, stopping when the end begins, alive
// every half of watchdogInterval() while the event loop turns (zero: no watchdog wanted).
void notifyReady();
// The state in one line, as `systemctl status` shows it.
void notifyStatus(const std::string& line);
void notifyStopping();
void notifyAlive();
std::chrono::milliseconds watchdogInterval();

}  // namespace kv
