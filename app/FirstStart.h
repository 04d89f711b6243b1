#pragma once

#include <filesystem>

#include "sync/TerminalConfig.h"

namespace kv {

// What a first start (no terminal.cfg in workDir) creates terminal.cfg with: the defaults, with
// KVBRIDGE_PORT (1 to 4, or a device path: port 1 on that device, which is remembered for port 1
// in porty.cfg), KVBRIDGE_URL and KVBRIDGE_COMPANY from the environment, so a service can be set
// up without a window.  A value that cannot be used is logged and left out.  Later starts read
// terminal.cfg alone, an empty one too; the variables are then ignored.
TerminalConfig firstConfigFromEnvironment(const std::filesystem::path& workDir);

// A first start: workDir has no terminal.cfg yet, or an empty one, whose settings are empty
// too.  Ask before the window exists: its start writes a missing file.
bool isFirstStart(const std::filesystem::path& workDir);

// Whether the window shows at the program start: always where there is no tray to bring it
// back from, and at a first start, whose set-up (Porty?, Uložit, Start) needs it; otherwise
// unless --minimized asked to start hidden.
bool showsWindowAtStart(bool minimized, bool trayAvailable, const std::filesystem::path& workDir);

}  // namespace kv
