#pragma once

#include <QString>

namespace kv {

// On Windows the bridge is a windowed program, which gets no console of its own.  Started from
// a console (cmd, PowerShell), its standard output and error are that console, so --help,
// --version, --service and the log lines print there; output already sent elsewhere (a file, a
// pipe) stays there.  Elsewhere nothing to do.  Call first thing in main.
void useParentConsole();

// Why a window could not be shown here, in Czech, or empty when it can: on Unix without a
// platform chosen (QT_QPA_PLATFORM) and with neither DISPLAY nor WAYLAND_DISPLAY, where Qt
// would abort.
QString noDisplayReason();

}  // namespace kv
