#pragma once

#include <cstdint>

namespace kv {

// Local date and time as the unit and the window see it.
struct WallTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int dayOfWeek = 6;  // Monday = 1 ... Sunday = 7 (1 January 2000 was a Saturday)

    bool operator==(const WallTime&) const = default;
};

// Local time for frames and displays, monotonic time for deadlines; nothing waits on it.
// Tests substitute a settable clock so that no test depends on the second it runs in.
class Clock {
public:
    virtual ~Clock() = default;
    virtual WallTime now() const = 0;
    virtual std::int64_t monotonicMs() const = 0;
};

class SystemClock final : public Clock {
public:
    WallTime now() const override;
    std::int64_t monotonicMs() const override;
};

// The waits of the bridge are stated as "until the clock's second is s + n".  This gives the
// monotonic instant of the start of that second, computed once, so a late check or a clock
// that is set meanwhile never makes the wait slip by a minute.
std::int64_t instantOfSecondsAhead(const Clock& clock, int seconds);

}  // namespace kv
