#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "FrameText.h"
#include "Simulator.h"

namespace kvsim {
namespace {

// The bridge's end of the line, opened by name as the bridge opens its port.
class Port {
public:
    explicit Port(const std::string& name)
        : m_fd(::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~Port() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int fd() const { return m_fd; }
    std::string read() {
        std::string out;
        char b[256];
        ssize_t n;
        while ((n = ::read(m_fd, b, sizeof b)) > 0) out.append(b, static_cast<std::size_t>(n));
        return out;
    }
    void purge() { ::tcflush(m_fd, TCIOFLUSH); }
    void write(const kv::CommandFrame& f) {
        const auto w = kv::wireForm(f);
        ASSERT_EQ(::write(m_fd, w.data(), w.size()), static_cast<ssize_t>(w.size()));
    }

private:
    int m_fd;
};

// Runs the simulator until `done` holds or the deadline passes.
template <typename Done>
bool runUntil(Simulator& sim, Done done, std::chrono::seconds within = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + within;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        sim.step(50);
    }
    return true;
}

TEST(Simulator, BridgeOnTheSlaveReadsAnEventAndItsAnswerIsRecorded) {
    CliOptions o;
    o.unit.waitForBridge = false;
    o.unit.intervalS = 0.1;
    o.unit.events = 1;
    o.unit.lingerS = 0;
    Simulator sim(o, {}, kv::WallTime{2027, 3, 7, 14, 5, 9});
    Port port(sim.deviceName());
    ASSERT_GE(port.fd(), 0) << sim.deviceName();

    std::string got;
    ASSERT_TRUE(runUntil(sim, [&] {
        got += port.read();
        return got.size() >= 17;
    }));
    ASSERT_EQ(got.size(), 17u);
    EXPECT_EQ(kv::hexDump(got.substr(0, 4)), "5A 02 00 01");

    kv::CommandFrame answer;
    answer[1] = 6;
    kv::pridejmeno(answer, "Dvo\xF8\xE1k");  // Windows-1250
    port.write(answer);
    ASSERT_TRUE(runUntil(sim, [&] { return sim.unit().summary().answered == 1; }));
    EXPECT_EQ(sim.unit().summary().names, std::vector<std::string>{"Dvorak"});
    EXPECT_TRUE(runUntil(sim, [&] { return sim.finished(); }));
}

TEST(Simulator, LineSurvivesTheBridgeClosingAndReopeningThePort) {
    CliOptions o;
    o.unit.events = 0;
    o.unit.forever = true;
    Simulator sim(o, {}, kv::WallTime{});
    {
        Port first(sim.deviceName());
        ASSERT_GE(first.fd(), 0);
    }
    Port again(sim.deviceName());
    ASSERT_GE(again.fd(), 0);
    kv::CommandFrame stats;
    stats[1] = 8;
    again.write(stats);
    std::string got;
    ASSERT_TRUE(runUntil(sim, [&] {
        got += again.read();
        return got.size() >= 17;
    }));
    EXPECT_EQ(kv::hexDump(got.substr(0, 2)), "5A 03");
}

TEST(Simulator, BridgePurgingItsPortIsNoticed) {
    CliOptions o;
    o.unit.events = 0;
    o.unit.forever = true;
    Simulator sim(o, {}, kv::WallTime{});
    Port port(sim.deviceName());
    ASSERT_GE(port.fd(), 0);
    port.purge();
    EXPECT_TRUE(runUntil(sim, [&] { return sim.unit().summary().bridgePurges >= 1; }));
}

}  // namespace
}  // namespace kvsim
