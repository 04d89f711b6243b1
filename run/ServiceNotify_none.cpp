#include "run/ServiceNotify.h"

namespace kv {

void notifyReady() {}
void notifyStatus(const std::string&) {}
void notifyStopping() {}
void notifyAlive() {}
std::chrono::milliseconds watchdogInterval() { return std::chrono::milliseconds(0); }

}  // namespace kv
