#pragma once

namespace kv {

// kvbridge --service: the engine without a window and without a display.  Reads terminal.cfg
// in the working directory, starts communication at once, logs to kvbridge.log and standard
// error (one line each, for the journal), writes what would have been a message box to the log,
// and ends cleanly on SIGTERM or SIGINT.  Returns the exit status.
int runService(int argc, char** argv);

}  // namespace kv
