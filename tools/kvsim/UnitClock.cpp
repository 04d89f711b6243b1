#include "UnitClock.h"

#include <cstdio>

namespace kvsim {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's civil calendar algorithms).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

}  // namespace

std::int64_t toSeconds(const kv::WallTime& t) {
    const std::int64_t days =
        daysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

kv::WallTime fromSeconds(std::int64_t seconds) {
    const std::int64_t days = floorDiv(seconds, 86400);
    const std::int64_t rest = seconds - days * 86400;
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    kv::WallTime t;
    t.year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
    t.month = static_cast<int>(m);
    t.day = static_cast<int>(d);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest % 3600 / 60);
    t.second = static_cast<int>(rest % 60);
    t.dayOfWeek = dayOfWeek(t);
    return t;
}

int dayOfWeek(const kv::WallTime& t) {
    // 1 January 1970 was a Thursday.
    const std::int64_t days = floorDiv(toSeconds(t), 86400);
    const auto fromMonday = static_cast<int>(((days + 3) % 7 + 7) % 7);
    return fromMonday + 1;
}

std::string formatCivil(const kv::WallTime& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d %02d.%02d.%04d", t.hour, t.minute, t.second,
                  t.day, t.month, t.year);
    return text;
}

void UnitClock::set(const kv::WallTime& t, std::int64_t nowMs) {
    m_baseSeconds = toSeconds(t);
    m_baseMs = nowMs;
}

kv::WallTime UnitClock::now(std::int64_t nowMs) const {
    return fromSeconds(m_baseSeconds + floorDiv(nowMs - m_baseMs, 1000));
}

}  // namespace kvsim
