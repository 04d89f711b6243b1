#include "sync/TableDownload.h"

#include <fstream>
#include <string>

#include "sync/Engine.h"
#include "sync/EventLog.h"
#include "sync/ReplyFiles.h"
#include "sync/TableRecords.h"

namespace kv {

namespace {
bool isSeparator(const std::string& line) { return line.compare(0, 7, "-------") == 0; }
}  // namespace

TableShape tableShape(const std::filesystem::path& reply) {
    TableShape shape;
    std::string line;
    CommandFrame scratch;
    for (ReplyLineReader reader(reply); reader.next(line);) {
        if (isSeparator(line)) {
            shape.separator = true;
            continue;
        }
        ++shape.recordLines;
        if (line.empty()) continue;
        ++shape.textLines;
        if (shape.allSection1 && !parseSection1Record(line, scratch)) shape.allSection1 = false;
    }
    return shape;
}

TableDownload::TableDownload(Engine& engine, Clock& clock, std::filesystem::path workDir)
    : m_engine(engine), m_clock(clock), m_mark(markFile(workDir)) {}

void TableDownload::begin() {
    m_begun = true;
    m_startMs = m_clock.monotonicMs();
    std::ofstream(m_mark) << "a table download began and did not end\n";
}

bool TableDownload::run(const std::filesystem::path& replyFile, std::uint64_t total) {
    ReplyLineReader reply(replyFile);
    ToUnit section = ToUnit::Section1Record;
    begin();
    if (!m_engine.sendWithTime(ToUnit::TablesBegin)) return false;
    m_engine.m_state.slowFrameCounter = 1;
    std::string line;
    while (reply.next(line)) {
        if (isSeparator(line)) {
            section = ToUnit::Section2Record;
            continue;
        }
        CommandFrame& f = m_engine.m_state.frame;
        f.setCode(section);
        if (section == ToUnit::Section2Record && line.size() <= 5) continue;
        const bool ok = section == ToUnit::Section1Record ? parseSection1Record(line, f)
                                                          : parseSection2Record(line, f);
        if (!ok) {
            ++m_skipped;  // a record that cannot be converted is left out
            continue;
        }
        if (!m_engine.zobraz()) return false;
        m_engine.progress(Engine::Progress::tableRecord, ++m_sent, total);
        if (m_engine.ending()) return false;
    }
    if (!m_engine.sendWithTime(ToUnit::TablesEnd)) return false;
    m_engine.progress(Engine::Progress::tablesClosed, m_sent, total);
    m_finished = true;
    std::error_code ec;
    std::filesystem::remove(m_mark, ec);
    logTablesSent(m_sent, m_skipped, m_clock.monotonicMs() - m_startMs);
    return true;
}

TableDownload::~TableDownload() {
    if (m_begun && !m_finished) logTableDownloadCutShort(m_clock.monotonicMs() - m_startMs);
}

bool TableDownload::takeUnfinished(const std::filesystem::path& workDir) {
    std::error_code ec;
    if (!std::filesystem::exists(markFile(workDir), ec)) return false;
    std::filesystem::remove(markFile(workDir), ec);
    logUnfinishedTableDownload();
    return true;
}

}  // namespace kv
