// The engine under load on a real pseudo-terminal: long table downloads, huge replies, and a
// frame whose tail never comes.  Memory must stay flat and waiting must not burn the CPU.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <fstream>
#include <limits>
#include <thread>

#include "support/EngineProbe.h"
#include "support/FakeHttpControl.h"
#include "support/Pty.h"
#include "support/ScriptedPrompts.h"
#include "support/WebStub.h"
#include "sync/Engine.h"

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

namespace kv::test {
namespace {

long statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key) + 1));
    return -1;
}

// A unit that takes everything the bridge sends as fast as it can and counts the frames.
class DrainingUnit {
public:
    explicit DrainingUnit(int masterFd) : m_fd(masterFd), m_thread([this] { run(); }) {}
    ~DrainingUnit() {
        m_stop = true;
        m_thread.join();
    }
    std::uint64_t bytes() const { return m_bytes; }
    int firstCode() const { return m_first; }
    int lastCode() const { return m_last; }
    std::uint64_t frames(int code) const { return m_counts[code]; }

private:
    void run() {
        char buf[65536];
        std::uint64_t at = 0;
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = read(m_fd, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i, ++at) {
                if (at % 19 != 3) continue;
                const int code = static_cast<unsigned char>(buf[i]);
                if (m_first < 0) m_first = code;
                m_last = code;
                ++m_counts[code];
            }
            if (n > 0) m_bytes += std::uint64_t(n);
        }
    }

    int m_fd;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_bytes{0};
    std::atomic<int> m_first{-1};
    std::atomic<int> m_last{-1};
    std::atomic<std::uint64_t> m_counts[256]{};
    std::thread m_thread;
};

struct PtyEngine {
    PtyEngine() : com1(1, unit.slaveName()) {
        com = std::make_unique<TQCCom32>([] { return makeQtSerialDevice(); });
        com->setBaud(2400);
        work = std::filesystem::path(dir.path().toStdString());
        engine = std::make_unique<Engine>(*com, http, clock, EnginePaths{work, work});
        EXPECT_TRUE(com->Open());
    }
    // A completed reply of the given kind, as the HTTP control leaves it.
    void replyArrived(RequestKind kind) {
        http.getDoc("http://127.0.0.1/", work / "status.tmp", Repeat::allowed);
        http.complete("", 200);  // the reply itself is already in get.txt
        EngineProbe::replyArrived(*engine, kind);
    }

    PtyPair unit;
    ComPortMapping com1;
    SystemClock clock;
    ScriptedPrompts prompts;
    FakeHttpControl http;
    QTemporaryDir dir;
    std::filesystem::path work;
    std::unique_ptr<TQCCom32> com;
    std::unique_ptr<Engine> engine;
};

TEST(Load, TwoHundredThousandRecordsReachTheUnitWithFlatMemory) {
    PtyEngine p;
    constexpr int kRecords = 200'000;
    {
        std::ofstream out(p.work / "get.txt", std::ios::binary);
        for (int i = 0; i < kRecords; ++i)
            out << i << "|0000" << std::hex << (0x10000000 + i) << std::dec << "|0815|3|-90\n";
        out << "-------\n";
    }
    DrainingUnit unit(p.unit.masterFd());
    const long before = statusKb("VmRSS");
    std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak count from here
    const auto start = std::chrono::steady_clock::now();
    // The software's own pace: a line with hardly any pace of its own, taken as the port
    // reports.
    p.com->setBaud(std::numeric_limits<int>::max());
    p.replyArrived(RequestKind::tables);
    EngineProbe::processReply(*p.engine);
    while (p.engine->jobRunning()) {
        QCoreApplication::processEvents();
        p.engine->wake();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    const long peak = statusKb("VmHWM");
    ASSERT_TRUE(pumpUntil([&] { return unit.bytes() >= (kRecords + 2) * 19ull; },
                          std::chrono::seconds(10)));
    EXPECT_EQ(unit.firstCode(), 2);
    EXPECT_EQ(unit.frames(3), std::uint64_t(kRecords));
    EXPECT_EQ(unit.lastCode(), 5);
    EXPECT_LT(took, std::chrono::seconds(kSanitized ? 120 : 30));
    if (!kSanitized) {
        EXPECT_LT(peak - before, 10 * 1024) << "kB";
    }
    EXPECT_FALSE(std::filesystem::exists(p.work / "get.txt"));
    EXPECT_FALSE(p.engine->status().requestUnderWay);
}

TEST(Load, AHundredMegabyteLineIsReadWithFlatMemory) {
    PtyEngine p;
    {
        std::ofstream out(p.work / "get.txt", std::ios::binary);
        out << "---OK---\n";
        const std::string chunk(1 << 20, 'x');
        for (int i = 0; i < 100; ++i) out << chunk;
        out << "\n";
    }
    EngineProbe::setNameRequested(*p.engine, 1);
    const long before = statusKb("VmRSS");
    std::ofstream("/proc/self/clear_refs") << "5";
    p.replyArrived(RequestKind::event);
    EngineProbe::processReply(*p.engine);
    const long peak = statusKb("VmHWM");
    if (!kSanitized) {
        EXPECT_LT(peak - before, 10 * 1024) << "kB";
    }
    // The name shown is the start of that line; the unit gets its first 15 characters.
    EXPECT_EQ(p.engine->display().text(Field::stavprac).substr(0, 20), std::string(20, 'x'));
    EXPECT_EQ(p.unit.readMaster(19), "\xF0\xF0\xA5\x06" + std::string(15, 'x'));
}

}  // namespace
}  // namespace kv::test
