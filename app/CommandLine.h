#pragma once

#include <optional>

namespace kv {

// What the command line asks for, once it has been read and found consistent.
struct CommandLine {
    bool service = false;
    bool minimized = false;
};

// Exit status of a command line that cannot be run as given (an unknown option, a missing
// value, options that exclude each other): the usage goes to standard error.
inline constexpr int kWrongCommandLine = 2;

// Reads and checks the command line before any window system is touched, so --help, --version,
// --status and every mistake answer on a machine without a display.  Answers --status itself.
// Returns the exit status when the program should end here; otherwise fills result and the
// working directory is the one asked for.
std::optional<int> readCommandLine(int argc, char** argv, CommandLine& result);

}  // namespace kv
