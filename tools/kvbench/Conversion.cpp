// The reply conversion and the line reader, in this process on a generated reply, next to
// unix2dos and sed on the same file.
#include <unistd.h>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "Bench.h"
#include "Resources.h"
#include "sync/ReplyFiles.h"

namespace kvbench {

namespace {

double timedProcess(const QString& program, const QStringList& args, const QString& stdoutFile) {
    QProcess p;
    if (!stdoutFile.isEmpty()) p.setStandardOutputFile(stdoutFile);
    const auto start = Clock::now();
    p.start(program, args);
    if (!p.waitForStarted(5000) || !p.waitForFinished(600'000) || p.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed");
    return secondsSince(start);
}

}  // namespace

void conversion(const fs::path& dir, int megabytes, Results& r) {
    progress("reply conversion on " + std::to_string(megabytes) + " MB");
    const fs::path reply = dir / "reply.txt";
    {
        // Table records with LF line ends, as the web application writes them.
        std::ofstream out(reply, std::ios::binary);
        std::string block;
        char line[64];
        std::uint64_t written = 0;
        for (int i = 0; written < std::uint64_t(megabytes) * 1'000'000; ++i) {
            const int n = std::snprintf(line, sizeof line, "%d|%012X|0815|3|-90\n", i, i);
            block.append(line, std::size_t(n));
            written += std::uint64_t(n);
            if (block.size() > (1 << 20)) {
                out << block;
                block.clear();
            }
        }
        out << block;
        if (!out) throw std::runtime_error("cannot write " + reply.string());
    }
    r.fileMb = double(fs::file_size(reply)) / 1e6;
    const fs::path converted = dir / "reply.prevedfile";
    const fs::path byUnix2dos = dir / "reply.unix2dos";
    const fs::path bySed = dir / "reply.sed";
    const QString in = QString::fromStdString(reply.string());

    // Best of two, each tool writing a file that does not exist yet; alternated so that no tool
    // is favoured by what the others left in the page cache.
    r.prevedfileS = r.readerS = r.unix2dosS = r.sedS = 1e9;
    for (int round = 0; round < 2; ++round) {
        for (const fs::path& p : {converted, byUnix2dos, bySed}) fs::remove(p);
        {
            std::ofstream("/proc/self/clear_refs") << "5";
            const long before = statusKb(getpid(), "VmHWM:");
            const auto start = Clock::now();
            kv::prevedfile(reply, converted);
            r.prevedfileS = std::min(r.prevedfileS, secondsSince(start));
            r.prevedfileGrowthKb = statusKb(getpid(), "VmHWM:") - before;
        }
        {
            const auto start = Clock::now();
            kv::ReplyLineReader reader(converted);
            std::string l;
            long lines = 0;
            while (reader.next(l)) ++lines;
            r.readerS = std::min(r.readerS, secondsSince(start));
            r.readerLines = lines;
        }
        r.unix2dosS = std::min(
            r.unix2dosS,
            timedProcess("unix2dos", {"-q", "-n", in, QString::fromStdString(byUnix2dos.string())},
                         {}));
        r.sedS = std::min(
            r.sedS, timedProcess("sed", {"s/$/\\r/", in}, QString::fromStdString(bySed.string())));
    }
    r.outputsAgree = fs::file_size(converted) == fs::file_size(byUnix2dos) &&
                     fs::file_size(converted) == fs::file_size(bySed);
    for (const fs::path& p : {reply, converted, byUnix2dos, bySed}) fs::remove(p);
}

}  // namespace kvbench
