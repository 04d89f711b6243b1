#include <csignal>

#include "support/OsSupport.h"

namespace kv::test {

std::string characterDevice() { return "/dev/null"; }

bool openInThisProcess(const std::filesystem::path& file) {
    const auto wanted = std::filesystem::weakly_canonical(file);
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(fd.path(), error) == wanted) return true;
    }
    return false;
}

std::optional<std::filesystem::path> fullDevice() { return "/dev/full"; }

QString endingProgram() { return QStringLiteral("true"); }
QStringList endingProgramArguments() { return {}; }

std::vector<TerminationRequest> terminationRequests() {
    return {{"SIGTERM", [] { return std::raise(SIGTERM) == 0; }, SIGTERM},
            {"SIGINT", [] { return std::raise(SIGINT) == 0; }, SIGINT}};
}

}  // namespace kv::test
