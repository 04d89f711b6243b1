#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "link/SerialDevice.h"
#include "support/FakeClock.h"

namespace kv::test {

// Everything the fake line knows, shared by the test and every device the factory makes.
struct FakeSerialLine {
    // Bytes from the unit, waiting to be read.
    std::string input;
    // Bytes from the unit that arrive later: at the given FakeClock monotonic instant they move
    // into `input`.  Keep them in ascending order of time.
    struct Arrival {
        std::int64_t atMs;
        std::string bytes;
    };
    std::vector<Arrival> arrivals;
    // Everything written, in order, across all opens.
    std::string written;
    // Device names that refuse to open (as a missing or busy port does).
    std::set<std::string> failingNames;
    // When >= 0, a write takes at most this many bytes (a short write).
    std::int64_t writeLimit = -1;
    // When >= 0, the line stops taking bytes once `written` holds this many (a stalled unit).
    std::int64_t stallAt = -1;
    // Set: the open device reports itself gone (unplugged) with this cause.
    std::string lostCause;
    // With a clock, arrivals come at their time.
    FakeClock* clock = nullptr;

    bool open = false;
    std::string openName;  // of the device currently open
    int baud = 0;
    Handshake handshake = Handshake::hsNone;
    int devicesMade = 0;   // factory calls
    int openAttempts = 0;  // open() calls, failed ones included
    int opens = 0;         // successful opens
    int closes = 0;
    int purges = 0;
    std::vector<std::string> attemptedNames;

    // Moves arrivals that are due into `input`.
    void deliverDue();
};

// An in-memory serial device for tick-exact tests.  Opening is exclusive on the line: while one
// device is open, another cannot open.
class FakeSerialDevice : public SerialDevice {
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeSerialLine> line) : m_line(std::move(line)) {}
    ~FakeSerialDevice() override { close(); }

    bool open(const std::string& deviceName) override;
    void applyLineSettings(int baud, Handshake handshake) override;
    bool isOpen() const override { return m_open; }
    std::string lostCause() const override { return m_open ? m_line->lostCause : std::string(); }
    int bytesWaiting() override;
    std::string read(int maxBytes) override;
    std::int64_t write(std::string_view bytes) override;
    void purge() override;
    void close() override;

private:
    std::shared_ptr<FakeSerialLine> m_line;
    bool m_open = false;
};

// A factory for TQCCom32 whose devices all share `line`.
SerialDeviceFactory fakeSerialFactory(std::shared_ptr<FakeSerialLine> line);

}  // namespace kv::test
