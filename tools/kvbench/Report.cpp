// The machine and the Markdown table of the results.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Bench.h"

namespace kvbench {

std::string machine() {
    std::ifstream cpu("/proc/cpuinfo");
    std::string line, model;
    while (std::getline(cpu, line))
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    std::ifstream mem("/proc/meminfo");
    long memKb = 0;
    std::string key;
    mem >> key >> memKb;
    return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores (" + model + "), " +
           fixed(double(memKb) / 1024 / 1024, 1) + " GiB memory";
}

namespace {

double minOf(const std::vector<double>& v) {
    return v.empty() ? NAN : *std::min_element(v.begin(), v.end());
}
double maxOf(const std::vector<double>& v) {
    return v.empty() ? NAN : *std::max_element(v.begin(), v.end());
}

}  // namespace

std::string table(const Results& r, int events) {
    std::ostringstream t;
    const auto& rt = r.roundTripsMs;
    // The floor: the marker is found on the first tick after the frame arrives (0 to 100 ms),
    // the frame is read two ticks later and the request goes out; the reply is taken on the
    // next tick and answered at once.  So 300 to 400 ms, evenly spread.
    const double p50 = percentile(rt, 50), p99 = percentile(rt, 99);
    const double mx = rt.empty() ? NAN : *std::max_element(rt.begin(), rt.end());
    t << "| What | Measured | Next to |\n|---|---|---|\n";
    t << "| Event round trip over a pty, stand-in web application (PHP) on 127.0.0.1, " << events
      << " events | p50 " << fixed(p50, 1) << " ms, p99 " << fixed(p99, 1) << " ms, max "
      << fixed(mx, 1) << " ms | tick-schedule floor 300–400 ms: p50 350, p99 399, max 400; "
      << "software's share at p50 " << fixed(p50 - 350, 1) << " ms, at p99 " << fixed(p99 - 399, 1)
      << " ms |\n";
    for (const auto& d : r.downloads)
        t << "| Table download into a pty, " << grouped(d.records) << " records ("
          << grouped(d.frames) << " frames) | " << fixed((d.frames - 1) / d.seconds, 1)
          << " frames/s (" << fixed(d.seconds, 2) << " s; 10,002 frames at this pace "
          << fixed(10'001 * d.seconds / (d.frames - 1) / 60, 1)
          << " min) | the line at 2400 baud: 12.6 frames/s (" << fixed(double(d.frames) / 12.6, 1)
          << " s; 10,002 frames 13.2 min) |\n";
    for (const auto& d : r.ownPace)
        t << "| Table download in process, a line that takes every byte at once, "
          << grouped(d.records) << " records | " << grouped(std::llround(d.frames / d.seconds))
          << " frames/s (" << fixed(d.seconds, 2) << " s) | the software's own pace |\n";
    const auto& off = r.burstOffsetMs;
    t << "| Table download with slower transfer, " << r.pacedRecords << " records | "
      << fixed(r.pacedRate, 2) << " frames/s; largest burst " << r.pacedLargestBurst
      << " records, at most " << r.pacedMostInASecond << " in a clock second; " << r.pacedBursts
      << " bursts start p50 " << fixed(percentile(off, 50), 1) << " ms (from "
      << fixed(minOf(off), 1) << " to " << fixed(maxOf(off), 1)
      << " ms) from the second boundary; pauses p50 " << fixed(percentile(r.pauseMs, 50), 0)
      << " ms (from " << fixed(minOf(r.pauseMs), 0) << " to " << fixed(maxOf(r.pauseMs), 0)
      << " ms) | five records at the start of each clock second |\n";
    const double mb = r.fileMb;
    const auto rate = [mb](double s) { return mb / s; };
    t << "| `prevedfile` (reply conversion), " << fixed(mb, 0) << " MB reply | "
      << fixed(rate(r.prevedfileS), 0) << " MB/s, memory +" << r.prevedfileGrowthKb << " kB | "
      << fixed(r.unix2dosS / r.prevedfileS, 1) << "× `unix2dos` (" << fixed(rate(r.unix2dosS), 0)
      << " MB/s), " << fixed(r.sedS / r.prevedfileS, 1) << "× `sed 's/$/\\r/'` ("
      << fixed(rate(r.sedS), 0) << " MB/s)"
      << (r.outputsAgree ? "" : "; **outputs differ in size**") << " |\n";
    t << "| Line reader on the converted reply (" << grouped(r.readerLines) << " lines) | "
      << fixed(rate(r.readerS), 0) << " MB/s | " << fixed(r.unix2dosS / r.readerS, 1)
      << "× `unix2dos`, " << fixed(r.sedS / r.readerS, 1) << "× `sed` |\n";
    t << "| CPU, idle with communication started | " << fixed(r.idleCpuPercent, 2)
      << " % of a core | |\n";
    t << "| CPU per 100 events | " << fixed(r.eventCpuSeconds * 1000 * 100 / events, 0) << " ms ("
      << fixed(100 * r.eventCpuSeconds / r.eventSeconds, 1) << " % of a core while they ran) | |\n";
    t << "| CPU while waiting for a frame's tail (3 s) | " << fixed(r.tailCpuPercent, 2)
      << " % of a core | |\n";
    t << "| RSS idle; before and peak during a 100 MB reply | "
      << fixed(double(r.rssIdleKb) / 1024, 1) << " MiB; " << fixed(double(r.rssBeforeKb) / 1024, 1)
      << " MiB and " << fixed(double(r.rssPeakKb) / 1024, 1) << " MiB | reply answered in "
      << fixed(r.bigReplySeconds, 2) << " s |\n";
    std::vector<double> starts = r.startMs;
    t << "| Start-up to the start frame on the line | median " << fixed(percentile(starts, 50), 0)
      << " ms, max " << fixed(*std::max_element(starts.begin(), starts.end()), 0) << " ms ("
      << starts.size() << " starts) | |\n";
    return t.str();
}

}  // namespace kvbench
