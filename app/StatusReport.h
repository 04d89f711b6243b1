#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <cstdint>

#include "sync/BridgeStatus.h"

namespace kv {

class Bridge;

// What kvbridge --status learns from the running bridge, built here once for the window and the
// service mode.  Times are relative to nowMs on the monotonic clock where the status keeps them
// so.  address is the web application's as terminal.cfg gives it.
QJsonObject statusJson(const BridgeStatus& status, const QString& workDir, const QString& address,
                       std::int64_t nowMs);
// The answer to the local socket's status question for a running bridge.
QByteArray statusAnswer(Bridge& bridge, const QString& workDir);

// The client's side: the status in a few Czech lines, and the exit status of --status: 0 running
// and delivering, 1 degraded (deliveries failing, the port lost, a standing warning), 2 stopped
// or waiting for its delayed start.  kNoBridge when nothing answered.
QString statusText(const QJsonObject& status);
int statusExitCode(const QJsonObject& status);
inline constexpr int kNoBridge = 3;

}  // namespace kv
