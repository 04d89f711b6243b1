#include "run/Console.h"

namespace kv {

// A Unix program has its standard output and error from whoever started it.
void useParentConsole() {}

QString noDisplayReason() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    return QStringLiteral(
        "okno není kde ukázat (není nastaveno DISPLAY ani WAYLAND_DISPLAY); bez okna běží "
        "kvbridge --service");
}

}  // namespace kv
