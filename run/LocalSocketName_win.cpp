#include "run/LocalSocketName.h"

namespace kv {

QString localSocketName(const QString&, const QString& fallbackName) { return fallbackName; }

}  // namespace kv
