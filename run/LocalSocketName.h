#pragma once

#include <QString>

namespace kv {

// Where a directory's bridge listens.  On Unix a socket file kvbridge.sock in the directory
// itself, so that a service's private /tmp (systemd's DynamicUser) does not hide it and root
// reaches it by the directory's path; a path too long for a socket address falls back to
// fallbackName in the temporary directory.  On Windows the named pipe fallbackName.
QString localSocketName(const QString& canonicalDir, const QString& fallbackName);

}  // namespace kv
