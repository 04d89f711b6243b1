// kvbench: figures of the bridge on this machine that a user can check against what the line and
// the tick schedule allow, and against the tools they would otherwise use.
//
//   kvbench --out DIR [--events N] [--file-mb M]
//
// It runs the real build/kvbridge on a pseudo-terminal whose other side it plays as the unit:
// against the stand-in web application (php -S) for the event round trip, against the test web
// stub for the bulk replies.  The reply conversion and the line reader run in this process on a
// generated reply, next to unix2dos and sed on the same file.  It writes DIR/results.md (one
// Markdown table) and DIR/roundtrip.dat (the round trips, sorted, for the plot).
//
// The parts: RoundTrip.cpp, TableDownload.cpp (with the memory during a large reply),
// OwnPace.cpp (the engine in this process on a line without a pace), Conversion.cpp, Report.cpp;
// UnitSide.h and BridgeProcess.h are the two ends of the line, Resources.* reads a process's CPU
// time and memory.
#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <exception>
#include <fstream>
#include <iostream>
#include <vector>

#include "Bench.h"

using namespace kvbench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString out = "build/bench";
    int events = 100;
    int megabytes = 300;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--out")
            out = args[i + 1];
        else if (args[i] == "--events")
            events = args[i + 1].toInt();
        else if (args[i] == "--file-mb")
            megabytes = args[i + 1].toInt();
        else {
            std::cerr << "usage: kvbench [--out DIR] [--events N] [--file-mb M]\n";
            return 2;
        }
    }
    signal(SIGPIPE, SIG_IGN);
    QDir().mkpath(out);
    const QString work = QDir(out).absoluteFilePath("work");
    QDir(work).removeRecursively();
    const auto started = Clock::now();
    Results r;
    try {
        conversion(fs::path(out.toStdString()), megabytes, r);
        eventRoundTrips(work + "/events", events, r);
        // The bridge paces a download at the line's speed, 2400 baud: 200 records take 16 s.
        bulkReplies(work + "/bulk", {200}, r);
        pacing(work + "/paced", 50, r);
        // The software's own pace, on a line without one; last, as it runs in this process.
        ownPace({10'000, 200'000}, r);
    } catch (const std::exception& e) {
        std::cerr << "kvbench: " << e.what() << std::endl;
        return 1;
    }

    std::ofstream md((fs::path(out.toStdString()) / "results.md").string());
    md << "Machine: " << machine() << ". Run took " << fixed(secondsSince(started), 0) << " s.\n\n"
       << table(r, events);
    std::vector<double> rt = r.roundTripsMs;
    std::sort(rt.begin(), rt.end());
    std::ofstream dat((fs::path(out.toStdString()) / "roundtrip.dat").string());
    dat << "# round trip (ms)  fraction of events at or below it\n";
    for (std::size_t i = 0; i < rt.size(); ++i)
        dat << fixed(rt[i], 2) << " " << fixed(double(i + 1) / double(rt.size()), 4) << "\n";
    QDir(work).removeRecursively();
    return md && dat ? 0 : 1;
}
