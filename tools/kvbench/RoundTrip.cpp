// The event round trip against the stand-in web application, and the bridge's CPU time meanwhile.
#include <QDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Bench.h"
#include "BridgeProcess.h"
#include "Resources.h"
#include "UnitSide.h"
#include "e2e/Rig.h"
#include "support/Pty.h"

namespace kvbench {

namespace {

// CPU of a process over a span in which nothing is asked of it, in per cent of one core.
double cpuPercentOver(pid_t pid, std::chrono::milliseconds span, UnitSide& unit) {
    const double before = cpuSecondsOf(pid);
    const auto start = Clock::now();
    unit.next(span);  // nothing is expected; keeps the line read meanwhile
    return 100.0 * (cpuSecondsOf(pid) - before) / secondsSince(start);
}

}  // namespace

void eventRoundTrips(const QString& dir, int events, Results& r) {
    progress("event round trip: " + std::to_string(events) +
             " events against the stand-in web application");
    QDir().mkpath(dir + "/web");
    kv::e2e::WebApp web(dir + "/web", dir + "/c");
    web.start();
    kv::test::PtyPair line;
    UnitSide unit(line.masterFd());
    BridgeProcess bridge(dir, line.slaveName(), web.baseUrl(), false);
    r.startMs.push_back(bridge.startMs(unit));
    unit.next(500ms);
    r.idleCpuPercent = cpuPercentOver(bridge.pid(), 5s, unit);

    // A unit's events come at moments unrelated to the bridge's ticks, so the tick schedule
    // alone spreads their round trips evenly over 300 to 400 ms.  The events are sent at phases
    // of this program's own 100 ms grid that cover it evenly, in a random order; the ticks keep
    // a fixed phase to that grid (both run on the monotonic clock), so the events cover the tick
    // period evenly too, and the percentiles of the round trips compare with the floor's without
    // sampling error.  Nothing the bridge does moves these moments.
    using Ms = std::chrono::duration<double, std::milli>;
    std::vector<double> phasesMs;
    for (int i = 0; i < events; ++i) phasesMs.push_back(100.0 * i / events);
    std::shuffle(phasesMs.begin(), phasesMs.end(), std::mt19937(20261207));
    const double cpuBefore = cpuSecondsOf(bridge.pid());
    const auto start = Clock::now();
    Clock::time_point lastAnswer = Clock::now();
    for (int i = 0; i < events; ++i) {
        // The first moment at least 150 ms after the last answer with the event's phase.
        const double earliest = Ms((lastAnswer + 150ms).time_since_epoch()).count();
        const double grid = std::floor(earliest / 100) * 100;
        double at = grid + phasesMs[std::size_t(i)];
        if (at < earliest) at += 100;
        std::this_thread::sleep_until(
            Clock::time_point(std::chrono::duration_cast<Clock::duration>(Ms(at))));
        unit.send(eventFrame(i + 1));
        const auto sent = Clock::now();
        const auto answer = unit.nextWithCode(6, 10s);
        if (!answer) throw std::runtime_error("event " + std::to_string(i) + " got no answer");
        lastAnswer = answer->at;
        r.roundTripsMs.push_back(msBetween(sent, answer->at));
    }
    r.eventSeconds = secondsSince(start);
    r.eventCpuSeconds = cpuSecondsOf(bridge.pid()) - cpuBefore;

    // A frame whose tail never comes: the bridge waits for it up to three clock seconds.
    unit.next(300ms);
    unit.send(std::string("Z\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00", 11));
    r.tailCpuPercent = cpuPercentOver(bridge.pid(), 3500ms, unit);
}

}  // namespace kvbench
