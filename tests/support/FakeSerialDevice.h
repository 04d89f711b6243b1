#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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
    // `sent`, when given, is asked at the arrival's time: false drops it (a unit that decides
    // then whether to send).
    struct Arrival {
        std::int64_t atMs;
        std::string bytes;
        std::function<bool()> sent = nullptr;
    };
    std::vector<Arrival> arrivals;
    // Everything that has gone out on the line to the unit, in order, across all opens.
    std::string written;
    // Device names that refuse to open (as a missing or busy port does).
    std::set<std::string> failingNames;
    // When >= 0, a write queues at most this many bytes (a device refusing the rest).
    std::int64_t writeLimit = -1;
    // When >= 0, the line stops taking bytes once `written` holds this many (a stalled unit);
    // what is written beyond stays with the device (`held`).
    std::int64_t stallAt = -1;
    // The line's pace: 0 takes every byte at once; else bytes leave one after the other at
    // this rate (240: 2400 baud), from the system's buffer of `systemRoom` bytes (-1: any
    // number).  What does not fit stays with the device: the line pushes back.
    std::int64_t bytesPerSecond = 0;
    std::int64_t systemRoom = -1;
    std::string held;                         // written, not yet taken by the system
    std::string onTheWay;                     // taken, not yet out: its first byte is on the line
    std::int64_t frontDoneUs = 0;             // monotonic: when the byte on the line is out
    std::function<void()> taken;              // the device's notice of bytes taken
    std::vector<std::int64_t> framesOutAtMs;  // when each 19 bytes were out (at a rate)
    std::size_t mostOnTheWay = 0;             // the most the system held at once
    // Moves bytes as the line takes them up to now (told through `taken`).
    void advance();
    // When the line next moves a byte (monotonic ms); none while nothing moves.
    std::optional<std::int64_t> nextMoveMs() const;
    // Set: the open device reports itself gone (unplugged) with this cause.
    std::string lostCause;
    // With a clock, arrivals come at their time.
    FakeClock* clock = nullptr;

    bool open = false;
    std::string openName;  // of the device currently open
    int baud = 0;
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
    void applyLineSettings(int baud) override;
    bool isOpen() const override { return m_open; }
    std::string lostCause() const override { return m_open ? m_line->lostCause : std::string(); }
    int bytesWaiting() override;
    std::string read(int maxBytes) override;
    std::int64_t write(std::string_view bytes) override;
    std::int64_t bytesToWrite() override;
    void setWrittenListener(std::function<void()> listener) override;
    void purge() override;
    void close() override;

private:
    std::shared_ptr<FakeSerialLine> m_line;
    bool m_open = false;
};

// A factory for TQCCom32 whose devices all share `line`.
SerialDeviceFactory fakeSerialFactory(std::shared_ptr<FakeSerialLine> line);

}  // namespace kv::test
