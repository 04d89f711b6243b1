#pragma once

#include <filesystem>

#include "sync/TerminalConfig.h"

namespace kv {

// What a first start (no terminal.cfg in workDir, or an empty one) creates terminal.cfg with:
// the defaults, with KVBRIDGE_PORT (1 to 4, or a device path: port 1 on that device, which is
// remembered for port 1 in porty.cfg), KVBRIDGE_URL and KVBRIDGE_COMPANY from the environment,
// so a service can be set up without a window.  A value that cannot be used is logged and left
// out.  Later starts read terminal.cfg alone; the variables are then ignored.
TerminalConfig firstConfigFromEnvironment(const std::filesystem::path& workDir);

}  // namespace kv
