// The software's own pace of a table download: the engine in this process over an in-memory line
// that takes every byte at once, so nothing but the software sets the pace.
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <fstream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include "Bench.h"
#include "support/EngineProbe.h"
#include "support/FakeHttpControl.h"
#include "support/FakeSerialDevice.h"
#include "sync/Engine.h"

namespace kvbench {

void ownPace(const std::vector<int>& tables, Results& r) {
    // The engine logs every frame at debug level; the bridge leaves that off, so does this.
    QLoggingCategory::setFilterRules(QStringLiteral("kvbridge.*.debug=false"));
    for (int records : tables) {
        progress("table download of " + grouped(records) + " records in this process, no line");
        QTemporaryDir dir;
        const fs::path work = dir.path().toStdString();
        {
            std::ofstream out(work / "get.txt", std::ios::binary);
            out << tableReply(records);
        }
        auto line = std::make_shared<kv::test::FakeSerialLine>();
        kv::TQCCom32 com(kv::test::fakeSerialFactory(line));
        // The time model at a rate no line has: a frame has left as soon as it is handed over.
        com.setBaud(std::numeric_limits<int>::max());
        kv::test::FakeHttpControl http;
        kv::SystemClock clock;
        kv::Engine engine(com, http, clock, kv::EnginePaths{work, work});
        if (!com.Open()) throw std::runtime_error("the in-memory line did not open");
        http.getDoc("http://127.0.0.1/", work / "status.tmp", kv::Repeat::allowed);
        http.complete("", 200);  // the reply itself is already in get.txt
        kv::test::EngineProbe::replyArrived(engine, kv::RequestKind::tables);
        const auto start = Clock::now();
        kv::test::EngineProbe::processReply(engine);
        while (engine.jobRunning()) {
            QCoreApplication::processEvents();
            engine.wake();
        }
        const double seconds = secondsSince(start);
        const long frames = long(line->written.size() / 19);
        if (frames != records + 2)
            throw std::runtime_error("the download in this process is short");
        r.ownPace.push_back({records, frames, seconds});
    }
}

}  // namespace kvbench
