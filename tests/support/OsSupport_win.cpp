#include <windows.h>

#include <csignal>

#include "support/OsSupport.h"

namespace kv::test {

std::string characterDevice() { return "NUL"; }

// A file this process has open cannot be opened exclusively: Qt's files share neither deletion
// nor an exclusive open.
bool openInThisProcess(const std::filesystem::path& file) {
    const HANDLE h =
        CreateFileW(file.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

// Windows has no device whose writes fail as a full disk's do.
std::optional<std::filesystem::path> fullDevice() { return std::nullopt; }

QString endingProgram() { return QStringLiteral("cmd.exe"); }
QStringList endingProgramArguments() { return {QStringLiteral("/c"), QStringLiteral("exit")}; }

// The events go to every process on this program's console; one started without a console
// gets one of its own (AllocConsole fails harmlessly when there is one), and Ctrl+C is taken
// even when the parent started it with Ctrl+C ignored.
std::vector<TerminationRequest> terminationRequests() {
    const auto send = [](DWORD event) {
        return [event] {
            AllocConsole();
            SetConsoleCtrlHandler(nullptr, FALSE);
            return GenerateConsoleCtrlEvent(event, 0) != 0;
        };
    };
    return {{"CtrlC", send(CTRL_C_EVENT), SIGINT}, {"CtrlBreak", send(CTRL_BREAK_EVENT), SIGINT}};
}

}  // namespace kv::test
