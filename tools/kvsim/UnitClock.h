#pragma once

#include <cstdint>
#include <string>

#include "link/Clock.h"

namespace kvsim {

// The unit keeps its date and time without time zone or daylight saving, in the fields the
// frames carry; the millisecond is not used.

// Seconds since 1 January 1970 00:00 of the same naive calendar, and back.
std::int64_t toSeconds(const kv::WallTime& t);
kv::WallTime fromSeconds(std::int64_t seconds);
// Monday = 1 ... Sunday = 7, as in the bridge's time stamp.
int dayOfWeek(const kv::WallTime& t);
// "14:05:09 07.03.2027"
std::string formatCivil(const kv::WallTime& t);

// The unit's real-time clock: runs from the moment it was last set.
class UnitClock {
public:
    UnitClock(const kv::WallTime& initial, std::int64_t nowMs) { set(initial, nowMs); }
    void set(const kv::WallTime& t, std::int64_t nowMs);
    kv::WallTime now(std::int64_t nowMs) const;

private:
    std::int64_t m_baseSeconds = 0;
    std::int64_t m_baseMs = 0;
};

}  // namespace kvsim
