#include <sys/un.h>

#include <QDir>

#include "run/LocalSocketName.h"

namespace kv {

QString localSocketName(const QString& canonicalDir, const QString& fallbackName) {
    const QString path = QDir(canonicalDir).filePath(QStringLiteral("kvbridge.sock"));
    if (path.toLocal8Bit().size() < qsizetype(sizeof(sockaddr_un{}.sun_path))) return path;
    return fallbackName;
}

}  // namespace kv
