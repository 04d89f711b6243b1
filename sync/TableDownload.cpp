#include "sync/TableDownload.h"

#include <algorithm>
#include <fstream>
#include <string>

#include "sync/Engine.h"
#include "sync/EventLog.h"
#include "sync/Logging.h"
#include "sync/ReplyFiles.h"
#include "sync/TableRecords.h"

namespace kv {

namespace {
bool isSeparator(const std::string& line) { return line.compare(0, 7, "-------") == 0; }
// An empty line is no record; in the second section neither is one of 5 characters or fewer.
bool isRecordLine(const std::string& line, bool section2) {
    return section2 ? line.size() > 5 : !line.empty();
}
}  // namespace

TableShape tableShape(const std::filesystem::path& reply) {
    TableShape shape;
    std::string line;
    CommandFrame scratch;
    std::uint64_t number = 0;
    for (ReplyLineReader reader(reply); reader.next(line);) {
        ++number;
        if (isSeparator(line)) {
            shape.separator = true;
            continue;
        }
        if (!isRecordLine(line, shape.separator)) continue;
        if (shape.separator ? parseSection2Record(line, scratch)
                            : parseSection1Record(line, scratch)) {
            ++shape.records;
            if (!shape.separator) ++shape.workers;
        } else if (++shape.unreadable == 1) {
            shape.firstUnreadableLine = number;
        }
    }
    return shape;
}

std::string TableShape::fault() const {
    if (unreadable > 3 && unreadable * 100 > records + unreadable)
        return std::to_string(unreadable) + " nečitelných záznamů z " +
               std::to_string(records + unreadable) + ", první na řádku " +
               std::to_string(firstUnreadableLine);
    return {};
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
    ToUnit section = ToUnit::section1Record;
    begin();
    if (!m_engine.sendWithTime(ToUnit::tablesBegin)) return false;
    m_engine.m_state.slowFrameCounter = 1;
    std::string line;
    while (reply.next(line)) {
        if (isSeparator(line)) {
            section = ToUnit::section2Record;
            continue;
        }
        if (!isRecordLine(line, section == ToUnit::section2Record)) continue;
        CommandFrame& f = m_engine.m_state.frame;
        f.setCode(section);
        const bool ok = section == ToUnit::section1Record ? parseSection1Record(line, f)
                                                          : parseSection2Record(line, f);
        if (!ok) {
            ++m_skipped;  // a record that cannot be converted is left out
            continue;
        }
        if (!m_engine.zobraz()) return false;
        m_engine.progress(Engine::Progress::tableRecord, ++m_sent, total);
        if (m_engine.ending() && !finishesBeforeTheEnd(total)) return false;
    }
    if (!m_engine.sendWithTime(ToUnit::tablesEnd)) return false;
    m_engine.progress(Engine::Progress::tablesClosed, m_sent, total);
    m_finished = true;
    std::error_code ec;
    std::filesystem::remove(m_mark, ec);
    logTablesSent(m_sent, m_skipped, m_clock.monotonicMs() - m_startMs);
    return true;
}

bool TableDownload::finishesBeforeTheEnd(std::uint64_t total) {
    if (m_finishing) return true;
    // The frames left with the closing one, on the line and in the pauses after every fifth.
    const std::int64_t frames = std::int64_t(total > m_sent ? total - m_sent : 0) + 1;
    std::int64_t ms = frames * 19 * 10 * 1000 / std::max(m_engine.m_com.Baud(), 1);
    if (optionOn(m_engine.m_settings.slowcom)) ms = std::max(ms, (frames / 5 + 1) * 1000);
    m_finishing = ms < kFinishBeforeTheEndMs;
    qCInfo(lcSync).nospace() << "asked to end during a table download, " << frames - 1
                             << " records left (about " << (ms + 999) / 1000 << " s): "
                             << (m_finishing ? "finishing it with its closing frame first"
                                             : "breaking it off");
    return m_finishing;
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
