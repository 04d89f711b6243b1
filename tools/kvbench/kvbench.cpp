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
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/Rig.h"
#include "support/Pty.h"
#include "support/WebStub.h"
#include "sync/ReplyFiles.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void progress(const std::string& text) { std::cerr << "kvbench: " << text << std::endl; }

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double secondsSince(Clock::time_point a) {
    return std::chrono::duration<double>(Clock::now() - a).count();
}

std::string fixed(double v, int decimals) {
    std::ostringstream s;
    s.setf(std::ios::fixed);
    s.precision(decimals);
    s << v;
    return s.str();
}

// 200000 -> "200,000"
std::string grouped(long long v) {
    std::string digits = std::to_string(v);
    for (int at = int(digits.size()) - 3; at > 0; at -= 3) digits.insert(std::size_t(at), ",");
    return digits;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const auto at = std::size_t(std::ceil(p / 100.0 * double(v.size()))) - 1;
    return v[std::min(at, v.size() - 1)];
}

// ---------------------------------------------------------------------------------------------
// A process's CPU time and memory, from /proc.

// On-CPU time of all threads, in nanoseconds from the scheduler's statistics where the kernel
// keeps them (utime and stime count only in 10 ms steps, too coarse for an idle bridge).
double cpuSecondsOf(pid_t pid) {
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    double ns = 0;
    bool scheduler = false;
    for (const auto& task : fs::directory_iterator(tasks, ec)) {
        std::ifstream in(task.path() / "schedstat");
        double onCpu = 0;
        if (in >> onCpu) {
            ns += onCpu;
            scheduler = true;
        }
    }
    if (scheduler) return ns / 1e9;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int n = 3; n <= 15 && rest >> field; ++n)
        if (n == 14 || n == 15) ticks += std::stod(field);  // utime, stime
    return ticks / double(sysconf(_SC_CLK_TCK));
}

long statusKb(pid_t pid, const char* key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key) + 1));
    return -1;
}

// Restarts the peak count (VmHWM) of a process from its present size.
bool resetPeak(pid_t pid) {
    std::ofstream out("/proc/" + std::to_string(pid) + "/clear_refs");
    out << "5";
    out.flush();
    return out.good();
}

// ---------------------------------------------------------------------------------------------
// The unit's side of the line.

struct Received {
    int code = -1;
    std::uint8_t bytes[19]{};
    Clock::time_point at;                        // when its last byte was read
    std::chrono::system_clock::time_point wall;  // the same on the wall clock
};

class UnitSide {
public:
    explicit UnitSide(int fd) : m_fd(fd) {}

    void send(const std::string& bytes) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n != ssize_t(bytes.size())) throw std::runtime_error("short write to the bridge");
    }

    // The next frame from the bridge, waiting up to within; nothing at the time-out.
    std::optional<Received> next(std::chrono::milliseconds within) {
        const auto deadline = Clock::now() + within;
        for (;;) {
            if (auto f = take()) return f;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms) return std::nullopt;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(std::min<long long>(left.count(), 100))) <= 0) continue;
            char buf[1 << 16];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0) continue;
            const auto now = Clock::now();
            const auto wall = std::chrono::system_clock::now();
            for (ssize_t i = 0; i < n; ++i) m_pending.push_back(std::uint8_t(buf[i]));
            m_readAt = now;
            m_readWall = wall;
        }
    }

    // Waits for a frame with this code, skipping others.
    std::optional<Received> nextWithCode(int code, std::chrono::milliseconds within) {
        const auto deadline = Clock::now() + within;
        while (Clock::now() < deadline) {
            auto f = next(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
            if (f && f->code == code) return f;
        }
        return std::nullopt;
    }

    // Drops whatever the bridge sent and has not been read.
    void drain() {
        while (next(50ms)) {
        }
        m_pending.clear();
    }

private:
    std::optional<Received> take() {
        // Every frame starts F0 F0 A5; anything else before one is skipped.
        std::size_t start = 0;
        while (start + 3 <= m_pending.size() &&
               !(m_pending[start] == 0xF0 && m_pending[start + 1] == 0xF0 &&
                 m_pending[start + 2] == 0xA5))
            ++start;
        if (m_pending.size() - start < 19) {
            m_pending.erase(m_pending.begin(), m_pending.begin() + long(start));
            return std::nullopt;
        }
        Received r;
        std::copy_n(m_pending.begin() + long(start), 19, r.bytes);
        r.code = r.bytes[3];
        r.at = m_readAt;
        r.wall = m_readWall;
        m_pending.erase(m_pending.begin(), m_pending.begin() + long(start + 19));
        return r;
    }

    int m_fd;
    std::vector<std::uint8_t> m_pending;
    Clock::time_point m_readAt;
    std::chrono::system_clock::time_point m_readWall;
};

// 'Z' and the 16 bytes of a frame from the unit; bytes not given are 0.
std::string unitFrame(std::initializer_list<int> bytes) {
    std::string s(17, '\0');
    s[0] = 'Z';
    int i = 1;
    for (int b : bytes) s[std::size_t(i++)] = char(b);
    return s;
}

// A chip event of the first employee, with the name asked for.
std::string eventFrame(int index) {
    return unitFrame({2, (index >> 8) & 0xFF, index & 0xFF, 1, 1, 1, 8, 15, 0, 7, 12, 26, 1});
}

// ---------------------------------------------------------------------------------------------
// The real bridge in its own process, communication started automatically on port 1.

class BridgeProcess {
public:
    BridgeProcess(const QString& dir, const std::string& device, const QString& url, bool slowcom)
        : m_dir(dir) {
        QDir().mkpath(dir + "/c");
        QFile cfg(dir + "/terminal.cfg");
        if (!cfg.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write terminal.cfg");
        for (const QString& line :
             {QString("1"), url, QString("localhost"), QString("1"), QString("0"), QString("0"),
              QString(slowcom ? "1" : "0"), QString("0")})
            cfg.write(line.toLatin1() + "\r\n");
        cfg.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("KVBRIDGE_COM1", QString::fromStdString(device));
        env.insert("KVBRIDGE_DRIVE_C", dir + "/c");
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(dir);
        // To a file: a pipe nobody reads would stall the bridge once full.
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(dir + "/kvbridge.out");
    }
    ~BridgeProcess() {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    // Starts the bridge and returns how long it took until the start frame reached the unit.
    double startMs(UnitSide& unit) {
        const auto spawned = Clock::now();
        m_process.start(KVE2E_KVBRIDGE, {});
        if (!m_process.waitForStarted(5000)) throw std::runtime_error("kvbridge did not start");
        const auto start = unit.nextWithCode(11, 15s);
        if (!start) throw std::runtime_error("no start frame; see " + m_dir.toStdString());
        return msBetween(spawned, start->at);
    }

    pid_t pid() const { return pid_t(m_process.processId()); }

private:
    QString m_dir;
    QProcess m_process;
};

// ---------------------------------------------------------------------------------------------

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
    int pacedRecords = 0;
    int pacedBursts = 0;                // after the first
    int pacedLargestBurst = 0;          // records
    int pacedMostInASecond = 0;         // records
    std::vector<double> burstOffsetMs;  // from the nearest second boundary
    double pacedRate = 0;
    double fileMb = 0;
    double prevedfileS = 0, readerS = 0, unix2dosS = 0, sedS = 0;
    long prevedfileGrowthKb = 0;
    long readerLines = 0;
    bool outputsAgree = false;
};

// CPU of a process over a span in which nothing is asked of it, in per cent of one core.
double cpuPercentOver(pid_t pid, std::chrono::milliseconds span, UnitSide& unit) {
    const double before = cpuSecondsOf(pid);
    const auto start = Clock::now();
    unit.next(span);  // nothing is expected; keeps the line read meanwhile
    return 100.0 * (cpuSecondsOf(pid) - before) / secondsSince(start);
}

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

// A table reply of this many records in all: the last ten in the second section.
std::string tableReply(int records) {
    constexpr int kSecondSection = 10;
    std::string body;
    body.reserve(std::size_t(records) * 32);
    char line[64];
    for (int i = 0; i < records - kSecondSection; ++i) {
        std::snprintf(line, sizeof line, "%d|%012X|0815|3|-90\n", i, 0x10000000 + i);
        body += line;
    }
    body += "-------\n";
    for (int i = 0; i < kSecondSection; ++i) body += "3|17|615|90|2\n";
    return body;
}

void bulkReplies(const QString& dir, const std::vector<int>& tables, Results& r) {
    kv::test::WebStub web;
    std::string table;
    web.setHandler([&table](const std::string& target) {
        kv::test::WebReply reply;
        reply.contentType = "application/octet-stream";
        if (target.find("prikaz=1") != std::string::npos) reply.body = table;
        if (target.find("prikaz=2") != std::string::npos) {
            // A reply of 100 MB: the answer and then lines of text the bridge reads past.
            reply.body = "---OK---\nJan Nov\xE1k\n";
            const std::string filler = std::string(99, 'x') + "\n";
            reply.body.reserve(100'000'000 + 64);
            while (reply.body.size() < 100'000'000) reply.body += filler;
        }
        return reply;
    });
    kv::test::PtyPair line;
    UnitSide unit(line.masterFd());
    BridgeProcess bridge(dir, line.slaveName(), QString::fromStdString(web.baseUrl()), false);
    r.startMs.push_back(bridge.startMs(unit));
    unit.next(500ms);
    r.rssIdleKb = statusKb(bridge.pid(), "VmRSS:");

    for (int records : tables) {
        progress("table download of " + grouped(records) + " records");
        table = tableReply(records);
        unit.send(unitFrame({1}));
        const auto first = unit.nextWithCode(2, 10s);
        if (!first) throw std::runtime_error("the table download did not start");
        long frames = 1;
        std::optional<Received> last;
        while (auto f = unit.next(20s)) {
            ++frames;
            if (f->code == 5) {
                last = f;
                break;
            }
        }
        if (!last) throw std::runtime_error("the table download did not end");
        r.downloads.push_back({records, frames, msBetween(first->at, last->at) / 1000.0});
        unit.next(500ms);
    }

    progress("an event answered with 100 MB");
    unit.drain();
    const bool peakReset = resetPeak(bridge.pid());
    long sampledPeak = statusKb(bridge.pid(), "VmRSS:");
    r.rssBeforeKb = sampledPeak;
    unit.send(eventFrame(1));
    const auto sent = Clock::now();
    std::optional<Received> answer;
    while (!answer && secondsSince(sent) < 120) {
        sampledPeak = std::max(sampledPeak, statusKb(bridge.pid(), "VmRSS:"));
        answer = unit.next(20ms);
        if (answer && answer->code != 6) answer.reset();
    }
    if (!answer) throw std::runtime_error("the 100 MB reply was not answered");
    r.bigReplySeconds = msBetween(sent, answer->at) / 1000.0;
    r.rssPeakKb = peakReset ? std::max(sampledPeak, statusKb(bridge.pid(), "VmHWM:")) : sampledPeak;
}

void pacing(const QString& dir, int records, Results& r) {
    progress("table download of " + std::to_string(records) + " records, slower transfer on");
    kv::test::WebStub web;
    web.setReply({.body = tableReply(records), .contentType = "application/octet-stream"});
    kv::test::PtyPair line;
    UnitSide unit(line.masterFd());
    BridgeProcess bridge(dir, line.slaveName(), QString::fromStdString(web.baseUrl()), true);
    r.startMs.push_back(bridge.startMs(unit));
    unit.next(500ms);
    unit.send(unitFrame({1}));
    const auto first = unit.nextWithCode(2, 10s);
    if (!first) throw std::runtime_error("the paced download did not start");
    std::vector<Received> got;
    while (auto f = unit.next(5s)) {
        got.push_back(*f);
        if (f->code == 5) break;
    }
    if (got.empty() || got.back().code != 5)
        throw std::runtime_error("the paced download did not end");
    // Every five records the bridge waits for the start of the next clock second.  A burst is
    // what arrives without a pause of 200 ms; each burst after the first should start at a second
    // boundary (its offset from the nearest one is kept) and hold five records; no clock second
    // should get more than five records.
    std::map<long long, int> perSecond;
    int inBurst = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const Received& f = got[i];
        const auto since = f.wall.time_since_epoch();
        const bool record = f.code == 3 || f.code == 4;
        if (record) ++perSecond[std::chrono::floor<std::chrono::seconds>(since).count()];
        const Received& before = i == 0 ? *first : got[i - 1];
        if (i > 0 && msBetween(before.at, f.at) > 200) {
            ++r.pacedBursts;
            inBurst = 0;
            double offset = std::chrono::duration<double, std::milli>(
                                since - std::chrono::floor<std::chrono::seconds>(since))
                                .count();
            if (offset > 500) offset -= 1000;
            r.burstOffsetMs.push_back(offset);
        }
        if (record) r.pacedLargestBurst = std::max(r.pacedLargestBurst, ++inBurst);
    }
    r.pacedRecords = records;
    for (const auto& [second, n] : perSecond)
        r.pacedMostInASecond = std::max(r.pacedMostInASecond, n);
    r.pacedRate = double(got.size()) / (msBetween(first->at, got.back().at) / 1000.0);
}

// ---------------------------------------------------------------------------------------------
// The reply conversion and the line reader next to unix2dos and sed.

double timedProcess(const QString& program, const QStringList& args, const QString& stdoutFile) {
    QProcess p;
    if (!stdoutFile.isEmpty()) p.setStandardOutputFile(stdoutFile);
    const auto start = Clock::now();
    p.start(program, args);
    if (!p.waitForStarted(5000) || !p.waitForFinished(600'000) || p.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed");
    return secondsSince(start);
}

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

// ---------------------------------------------------------------------------------------------

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
          << grouped(d.frames) << " frames) | " << grouped(std::llround(d.frames / d.seconds))
          << " frames/s (" << fixed(d.seconds, 2) << " s) | the line at 2400 baud: 12.6 frames/s ("
          << fixed(double(d.frames) / 12.6 / 60, 0) << " min) |\n";
    const auto& off = r.burstOffsetMs;
    t << "| Table download with slower transfer, " << r.pacedRecords << " records | "
      << fixed(r.pacedRate, 2) << " frames/s; largest burst " << r.pacedLargestBurst
      << " records, at most " << r.pacedMostInASecond << " in a clock second; " << r.pacedBursts
      << " bursts start p50 " << fixed(percentile(off, 50), 1) << " ms (from "
      << fixed(off.empty() ? NAN : *std::min_element(off.begin(), off.end()), 1) << " to "
      << fixed(off.empty() ? NAN : *std::max_element(off.begin(), off.end()), 1)
      << " ms) from the second boundary | five records at the start of each clock second |\n";
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

}  // namespace

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
        bulkReplies(work + "/bulk", {10'000, 200'000}, r);
        pacing(work + "/paced", 50, r);
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
