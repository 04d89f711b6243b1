#pragma once

// What the parts of kvbench share: the figures they gather and the helpers they report them with.

#include <QString>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kvbench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void progress(const std::string& text);
double msBetween(Clock::time_point a, Clock::time_point b);
double secondsSince(Clock::time_point a);
std::string fixed(double v, int decimals);
// 200000 -> "200,000"
std::string grouped(long long v);
double percentile(std::vector<double> v, double p);

struct Results {
    std::vector<double> roundTripsMs;
    double eventCpuSeconds = 0;
    double eventSeconds = 0;
    double idleCpuPercent = 0;
    double tailCpuPercent = 0;
    std::vector<double> startMs;
    long rssIdleKb = 0;
    long rssBeforeKb = 0;  // after the table downloads, before the 100 MB reply
    long rssPeakKb = 0;
    double bigReplySeconds = 0;
    struct Download {
        int records = 0;
        long frames = 0;
        double seconds = 0;
    };
    std::vector<Download> downloads;
    std::vector<Download> ownPace;  // in this process, on a line without a pace of its own
    int pacedRecords = 0;
    int pacedBursts = 0;                // after the first
    int pacedLargestBurst = 0;          // records
    int pacedMostInASecond = 0;         // records
    std::vector<double> burstOffsetMs;  // from the nearest second boundary
    std::vector<double> pauseMs;        // from a burst's last frame to the next one's first
    double pacedRate = 0;
    double fileMb = 0;
    double prevedfileS = 0, readerS = 0, unix2dosS = 0, sedS = 0;
    long prevedfileGrowthKb = 0;
    long readerLines = 0;
    bool outputsAgree = false;
};

// The event round trip against the stand-in web application, with the bridge's CPU time.
void eventRoundTrips(const QString& dir, int events, Results& r);
// Table downloads of these sizes and an event answered with 100 MB, with the bridge's memory.
void bulkReplies(const QString& dir, const std::vector<int>& tables, Results& r);
// The software's own pace of table downloads of these sizes: the engine in this process over a
// line that takes every byte at once.
void ownPace(const std::vector<int>& tables, Results& r);
// A table reply of this many records in all: the last ten in the second section.
std::string tableReply(int records);
// A table download of this many records with slower transfer on.
void pacing(const QString& dir, int records, Results& r);
// The reply conversion and the line reader on a reply of this size, next to unix2dos and sed.
void conversion(const fs::path& dir, int megabytes, Results& r);

std::string machine();
// The Markdown table of the results.
std::string table(const Results& r, int events);

}  // namespace kvbench
