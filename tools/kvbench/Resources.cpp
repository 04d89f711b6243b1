#include "Resources.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kvbench {

namespace fs = std::filesystem;

double cpuSecondsOf(pid_t pid) {
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    double ns = 0;
    bool scheduler = false;
    for (const auto& task : fs::directory_iterator(tasks, ec)) {
        std::ifstream in(task.path() / "schedstat");
        double onCpu = 0;
        if (in >> onCpu) {
            ns += onCpu;
            scheduler = true;
        }
    }
    if (scheduler) return ns / 1e9;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int n = 3; n <= 15 && rest >> field; ++n)
        if (n == 14 || n == 15) ticks += std::stod(field);  // utime, stime
    return ticks / double(sysconf(_SC_CLK_TCK));
}

long statusKb(pid_t pid, const char* key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key) + 1));
    return -1;
}

bool resetPeak(pid_t pid) {
    std::ofstream out("/proc/" + std::to_string(pid) + "/clear_refs");
    out << "5";
    out.flush();
    return out.good();
}

}  // namespace kvbench
