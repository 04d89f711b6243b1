#include "support/FakeClock.h"

#include <chrono>

namespace kv::test {

namespace {
using namespace std::chrono;

std::int64_t toEpochMs(int year, int month, int day, int hour, int minute, int second, int ms) {
    const sys_days d = year_month_day{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                                      std::chrono::day{unsigned(day)}};
    return (d.time_since_epoch() + hours{hour} + minutes{minute} + seconds{second} +
            milliseconds{ms}) /
           milliseconds{1};
}
}  // namespace

FakeClock::FakeClock() { setWall(2024, 3, 5, 7, 4, 9); }

WallTime FakeClock::now() const {
    const sys_time<milliseconds> t{milliseconds{m_wallMsSinceEpoch}};
    const sys_days d = floor<days>(t);
    const year_month_day ymd{d};
    const hh_mm_ss hms{t - d};
    const unsigned iso = weekday{d}.iso_encoding();  // Monday = 1 ... Sunday = 7
    return WallTime{int(ymd.year()),
                    int(unsigned(ymd.month())),
                    int(unsigned(ymd.day())),
                    int(hms.hours().count()),
                    int(hms.minutes().count()),
                    int(hms.seconds().count()),
                    int(hms.subseconds().count()),
                    int(iso)};
}

void FakeClock::advanceMs(std::int64_t ms) {
    if (ms <= 0) return;
    m_mono += ms;
    m_wallMsSinceEpoch += ms;
}

void FakeClock::setWall(int year, int month, int day, int hour, int minute, int second, int ms) {
    m_wallMsSinceEpoch = toEpochMs(year, month, day, hour, minute, second, ms);
}

}  // namespace kv::test
