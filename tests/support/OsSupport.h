#pragma once

// What tests need of the operating system that differs between Unix and Windows
// (OsSupport_unix.cpp, OsSupport_win.cpp).

#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kv::test {

// A character device every such system has ("/dev/null", "NUL"): a name that exists and opens
// as a device that is no serial port.
std::string characterDevice();

// Whether this process has the file open.
bool openInThisProcess(const std::filesystem::path& file);

// A device every write to fails as on a full disk, where the system has one.
std::optional<std::filesystem::path> fullDevice();

// What the operator is told when the port may not be opened: on Unix how to join the device's
// group, with the real user's name; on Windows the plain refusal.
QString expectedNoPermission(const char* group);

// Whether the tests run under wine rather than on Windows itself (wine lacks a few things that
// Windows has; a test that meets one says so and is skipped there only).
bool underWine();

// A program that ends at once with success: its process number is then free.
QString endingProgram();
QStringList endingProgramArguments();

// The ways the system asks a program to end, as the bridge hears them: raise() of SIGTERM and
// SIGINT on Unix; Ctrl+C and Ctrl+Break on the console on Windows (both reported as SIGINT).
struct TerminationRequest {
    const char* name;
    std::function<bool()> send;  // false when it could not be sent
    int expectedSignal;
};
std::vector<TerminationRequest> terminationRequests();

}  // namespace kv::test
