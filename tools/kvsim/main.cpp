// kvsim: the control unit, simulated on a pseudo-terminal.  See README.md or --help.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <exception>

#include "Report.h"
#include "Simulator.h"

namespace {

int g_stopPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &c, 1);
}

kv::WallTime localNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string timestamp() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    ::localtime_r(&ts.tv_sec, &tm);
    // The date too: a soak under a faked clock compares the times the unit is given with it.
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  ts.tv_nsec / 1000000);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = kvsim::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "kvsim: %s\nTry kvsim --help.\n", parsed.error.c_str());
        return 2;
    }
    const kvsim::CliOptions& options = *parsed.options;
    if (options.help) {
        std::fputs(kvsim::helpText().c_str(), stdout);
        return 0;
    }

    std::FILE* logFile = stderr;
    if (!options.logFile.empty()) {
        logFile = std::fopen(options.logFile.c_str(), "w");
        if (!logFile) {
            std::perror(options.logFile.c_str());
            return 1;
        }
    }
    std::setvbuf(logFile, nullptr, _IOLBF, 0);
    const auto log = [logFile](std::string_view line) {
        std::fprintf(logFile, "%s %.*s\n", timestamp().c_str(), static_cast<int>(line.size()),
                     line.data());
    };

    if (::pipe(g_stopPipe) != 0) {
        std::perror("pipe");
        return 1;
    }
    for (const int fd : g_stopPipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(g_stopPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    try {
        kvsim::Simulator sim(options, log, localNow());
        std::printf("KVSIM DEVICE %s\n", sim.deviceName().c_str());
        std::fflush(stdout);
        if (!options.deviceFile.empty()) {
            const std::string error =
                kvsim::writeFileAtomically(options.deviceFile, sim.deviceName() + "\n");
            if (!error.empty()) {
                std::fprintf(stderr, "kvsim: %s\n", error.c_str());
                return 1;
            }
        }
        log("unit    ready on " + sim.deviceName() +
            (options.unit.waitForBridge ? ", waiting for the bridge's first frame" : ""));

        while (!sim.finished()) {
            if (sim.step(1000, g_stopPipe[0])) {
                log("unit    signalled; ending");
                break;
            }
        }

        const kvsim::Summary summary = sim.unit().summary();
        const std::string text = kvsim::summaryText(summary);
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        if (logFile != stderr) std::fputs(text.c_str(), logFile);
        int status = 0;
        if (!options.summaryJson.empty()) {
            const std::string error =
                kvsim::writeFileAtomically(options.summaryJson, kvsim::summaryJson(summary));
            if (!error.empty()) {
                std::fprintf(stderr, "kvsim: %s\n", error.c_str());
                status = 1;
            }
        }
        // A device file left behind would point the next script at a line that is gone.
        if (!options.deviceFile.empty()) ::unlink(options.deviceFile.c_str());
        if (logFile != stderr) std::fclose(logFile);
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvsim: %s\n", e.what());
        return 1;
    }
}
