#pragma once

#include <chrono>

namespace kv {

// What the service manager is told, where the build has systemd's library; elsewhere these do
// nothing.  ready once communication has been started, stopping when the end begins, alive
// every half of watchdogInterval() while the event loop turns (zero: no watchdog wanted).
void notifyReady();
void notifyStopping();
void notifyAlive();
std::chrono::milliseconds watchdogInterval();

}  // namespace kv
