#include "link/Clock.h"

#include <QDateTime>
#include <chrono>

namespace kv {

WallTime SystemClock::now() const {
    const QDateTime t = QDateTime::currentDateTime();
    const QDate d = t.date();
    const QTime tm = t.time();
    return WallTime{d.year(),    d.month(),   d.day(),   tm.hour(),
                    tm.minute(), tm.second(), tm.msec(), d.dayOfWeek()};
}

std::int64_t SystemClock::monotonicMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t instantOfSecondsAhead(const Clock& clock, int seconds) {
    const std::int64_t mono = clock.monotonicMs();
    const WallTime wall = clock.now();
    return mono - wall.millisecond + std::int64_t{seconds} * 1000;
}

}  // namespace kv
