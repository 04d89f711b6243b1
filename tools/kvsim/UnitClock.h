#pragma once

#include <cstdint>
#include <string>

namespace kvsim {

// A date and time as the unit keeps it: no time zone, no daylight saving, just the fields the
// frames carry.
struct CivilTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Seconds since 1 January 1970 00:00 of the same naive calendar, and back.
std::int64_t toSeconds(const CivilTime& t);
CivilTime fromSeconds(std::int64_t seconds);
// Monday = 1 ... Sunday = 7, as in the bridge's time stamp.
int dayOfWeek(const CivilTime& t);
// "14:05:09 07.03.2027"
std::string formatCivil(const CivilTime& t);

// The unit's real-time clock: runs from the moment it was last set.
class UnitClock {
public:
    UnitClock(const CivilTime& initial, std::int64_t nowMs) { set(initial, nowMs); }
    void set(const CivilTime& t, std::int64_t nowMs);
    CivilTime now(std::int64_t nowMs) const;

private:
    std::int64_t m_baseSeconds = 0;
    std::int64_t m_baseMs = 0;
};

}  // namespace kvsim
