#pragma once

#include "link/Clock.h"

namespace kv::test {

// A clock that only moves when told to.  Wall time and
// monotonic time advance together; setWall() changes the wall clock alone, as a user setting
// the PC's clock would.
class FakeClock : public Clock {
public:
    // Starts at 2024-03-05 07:04:09.000, a Tuesday.
    FakeClock();
    WallTime now() const override;
    std::int64_t monotonicMs() const override { return m_mono; }

    void advanceMs(std::int64_t ms);
    // Sets the wall clock to the given date and time (weekday computed), monotonic time kept.
    void setWall(int year, int month, int day, int hour, int minute, int second, int ms = 0);

private:
    std::int64_t m_wallMsSinceEpoch = 0;  // local, as if UTC
    std::int64_t m_mono = 1'000'000;
};

}  // namespace kv::test
