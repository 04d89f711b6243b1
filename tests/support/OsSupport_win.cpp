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

// The event goes to every process on this program's console.  A console that cannot take it
// (wine's stand-in for the terminal it was started from) is exchanged for a console of its own;
// Ctrl+C is taken even when the parent started the program with Ctrl+C ignored.  (Ctrl+Break
// is handled the same way, but wine cannot send it.)
std::vector<TerminationRequest> terminationRequests() {
    const auto ctrlC = [] {
        SetConsoleCtrlHandler(nullptr, FALSE);
        if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return true;
        FreeConsole();
        if (!AllocConsole()) return false;
        SetConsoleCtrlHandler(nullptr, FALSE);
        return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    };
    return {{"CtrlC", ctrlC, SIGINT}};
}

QString expectedNoPermission(const char* /*group*/) { return QStringLiteral("přístup odepřen"); }

bool underWine() {
    // Wine's ntdll exports its version; Windows' own does not.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace kv::test
