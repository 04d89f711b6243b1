// Table downloads into the pseudo-terminal, an event answered with 100 MB (and the bridge's memory
// meanwhile), and the pacing of a table download with slower transfer on.
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Bench.h"
#include "BridgeProcess.h"
#include "Resources.h"
#include "UnitSide.h"
#include "support/Pty.h"
#include "support/WebStub.h"

namespace kvbench {

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
            r.pauseMs.push_back(msBetween(before.at, f.at));
        }
        if (record) r.pacedLargestBurst = std::max(r.pacedLargestBurst, ++inBurst);
    }
    r.pacedRecords = records;
    for (const auto& [second, n] : perSecond)
        r.pacedMostInASecond = std::max(r.pacedMostInASecond, n);
    r.pacedRate = double(got.size()) / (msBetween(first->at, got.back().at) / 1000.0);
}

}  // namespace kvbench
