#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kv::test {

// A pseudo-terminal pair: the code under test opens the slave by name as its serial port, the
// test plays the control unit on the master side.  Both sides are raw, so all 256 byte values
// pass unchanged in both directions.  The pair keeps its own slave descriptor open, so the line
// stays up while the port under test is closed and reopened.
//
//     PtyPair unit;
//     ComPortMapping com1(1, unit.slaveName());   // port 1 now opens the slave
//     unit.writeMaster("Z...");                    // the unit sends
//     std::string got = unit.readMaster(17);       // what the bridge sent, up to 17 bytes
class PtyPair {
public:
    PtyPair();  // throws std::runtime_error when no pseudo-terminal can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slaveName() const { return m_slaveName; }
    int masterFd() const { return m_master; }

    // Sends bytes as the unit; all of them or throws.
    void writeMaster(std::string_view bytes);
    // Bytes sent to the unit: waits with poll() until n bytes are there or the time is up, and
    // returns what arrived (fewer than n after a time-out).
    std::string readMaster(std::size_t n,
                           std::chrono::milliseconds within = std::chrono::seconds(3));
    // Whatever has been sent to the unit so far, without waiting.
    std::string drainMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slaveName;
};

// Sets KVBRIDGE_COM<port> for the lifetime of the object and then restores the previous value
// (or its absence).  Use a path that does not exist to make a port unopenable.
class ComPortMapping {
public:
    ComPortMapping(int port, const std::string& devicePath);
    ~ComPortMapping();
    ComPortMapping(const ComPortMapping&) = delete;
    ComPortMapping& operator=(const ComPortMapping&) = delete;

private:
    std::string m_variable;
    std::optional<std::string> m_previous;
};

// Makes dir the current directory for the lifetime of the object, as the bridge's working
// directory is, and then goes back.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::filesystem::path& dir);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    std::filesystem::path m_previous;
};

// A device path that never opens, for ports that must be missing.
inline constexpr const char* kMissingDevice = "/nonexistent/kvbridge-no-such-port";

}  // namespace kv::test
