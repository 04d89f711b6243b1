#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvsim {

// The unit's end of the serial line: the master side of a pseudo-terminal, raw on both sides so
// every byte value passes unchanged.  The slave end is what the bridge opens as its port; this
// object keeps a descriptor of its own on it, so the line stays up while the bridge closes and
// reopens the port.
class PtyLine {
public:
    PtyLine();  // throws std::system_error
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& slaveName() const { return m_slaveName; }
    int masterFd() const { return m_master; }

    // What happened on the line since the last call, in order, without waiting: bytes the
    // bridge sent, and the bridge purging its port.  A purge of the bridge's output discards
    // whatever it wrote that was not read here yet; a purge of its input, what the unit wrote
    // that the bridge had not read.
    struct Event {
        std::string bytes;  // empty for a purge
        bool purgedBridgeOutput = false;
        bool purgedBridgeInput = false;
    };
    std::vector<Event> readAvailable();
    // Writes all bytes unless the line stays full for stallMs (nobody reads the port); returns
    // how many were written.
    std::size_t write(std::string_view bytes, int stallMs = 500);

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slaveName;
};

}  // namespace kvsim
