#include "fuzz/FuzzEngine.h"

#include <unistd.h>

#include <QLoggingCategory>
#include <cstdio>
#include <cstdlib>

namespace kv::fuzz {

void broken(const std::string& what) {
    std::fprintf(stderr, "PROPERTY BROKEN: %s\n", what.c_str());
    std::abort();
}

void quietLog() {
    static const bool done = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("kvbridge.*=false"));
        return true;
    }();
    (void)done;
}

namespace {

struct Scratch {
    Scratch() {
        // Every input writes files: in memory when the system offers it, else on disk.
        std::string base = "/tmp";
        std::error_code ec;
        if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
            base = tmp;
        else if (std::filesystem::is_directory("/dev/shm", ec))
            base = "/dev/shm";
        std::string pattern = base + "/kvfuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) broken("no scratch directory under " + pattern);
        dir = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::filesystem::path dir;
};

Scratch& scratch() {
    static Scratch s;
    return s;
}

}  // namespace

const std::filesystem::path& scratchDir() { return scratch().dir; }

void emptyScratchDir() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(scratchDir(), ec))
        std::filesystem::remove_all(entry.path(), ec);
    std::filesystem::create_directories(scratchDir() / "work", ec);
    std::filesystem::create_directories(scratchDir() / "c", ec);
}

FuzzEngine::FuzzEngine() {
    quietLog();
    // The engine removes its reply files itself; what else it writes (the chip number files)
    // changes nothing for the next input.
    static const bool ready = (emptyScratchDir(), true);
    (void)ready;
    line->clock = &clock;
    com = std::make_unique<TQCCom32>(test::fakeSerialFactory(line));
    com->setBaud(2400);
    engine = std::make_unique<Engine>(*com, http, clock,
                                      EnginePaths{scratchDir() / "work", scratchDir() / "c"});
    com->Open();
}

std::vector<CommandFrame> framesSent(const std::string& written) {
    require(written.size() % kWireFrameSize == 0,
            "a partial frame went to the unit (" + std::to_string(written.size()) + " bytes)");
    std::vector<CommandFrame> frames;
    for (std::size_t at = 0; at < written.size(); at += kWireFrameSize) {
        require(written.compare(at, 3, "\xF0\xF0\xA5") == 0,
                "a frame to the unit without its header at byte " + std::to_string(at));
        CommandFrame f;
        for (std::size_t i = 0; i < f.bytes.size(); ++i)
            f.bytes[i] = static_cast<std::uint8_t>(written[at + 3 + i]);
        frames.push_back(f);
    }
    return frames;
}

}  // namespace kv::fuzz

namespace kv::test {
// The fake HTTP control answered with nothing running: the target itself is wrong.
void fakeHttpMisuse(const std::string& what) { fuzz::broken(what); }
}  // namespace kv::test
