#include <pwd.h>
#include <unistd.h>

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
            {"SIGINT", [] { return std::raise(SIGINT) == 0; }, SIGINT},
            {"SIGHUP", [] { return std::raise(SIGHUP) == 0; }, SIGHUP}};
}

QString expectedNoPermission(const char* group) {
    const struct passwd* user = getpwuid(geteuid());
    return QStringLiteral(
               "nemáte oprávnění; přidejte uživatele do skupiny %1: sudo adduser %2 %1, "
               "pak se odhlaste a znovu přihlaste")
        .arg(QString::fromLatin1(group), user ? QString::fromLocal8Bit(user->pw_name) : "?");
}

bool underWine() { return false; }

}  // namespace kv::test
