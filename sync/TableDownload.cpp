#include "sync/TableDownload.h"

#include <algorithm>
#include <fstream>
#include <string>

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

TableDownload::TableDownload(Clock& clock, std::filesystem::path workDir,
                             const std::filesystem::path& reply, std::uint64_t total,
                             const CommandFrame& first)
    : m_clock(clock), m_mark(markFile(workDir)), m_reply(reply), m_total(total), m_frame(first) {}

std::optional<UnitJob::Frame> TableDownload::next(const WallTime& now) {
    switch (m_phase) {
        case Phase::opening:
            m_startMs = m_clock.monotonicMs();
            std::ofstream(m_mark) << "a table download began and did not end\n";
            m_frame.setCode(ToUnit::tablesBegin);
            pridejcas(m_frame, now);
            m_phase = Phase::records;
            return Frame{m_frame, false};
        case Phase::records:
            for (std::string line; m_reply.next(line);) {
                if (isSeparator(line)) {
                    m_section = ToUnit::section2Record;
                    continue;
                }
                if (!isRecordLine(line, m_section == ToUnit::section2Record)) continue;
                m_frame.setCode(m_section);
                const bool ok = m_section == ToUnit::section1Record
                                    ? parseSection1Record(line, m_frame)
                                    : parseSection2Record(line, m_frame);
                if (ok) return Frame{m_frame, true};
                ++m_skipped;  // a record that cannot be converted is left out
            }
            [[fallthrough]];
        case Phase::closing:
            m_phase = Phase::closed;
            m_frame.setCode(ToUnit::tablesEnd);
            pridejcas(m_frame, now);
            return Frame{m_frame, true};
        case Phase::closed:
            break;
    }
    return std::nullopt;
}

void TableDownload::left(const CommandFrame& frame) {
    switch (frame.toUnitCode()) {
        case ToUnit::section1Record:
        case ToUnit::section2Record:
            ++m_sent;
            break;
        case ToUnit::tablesEnd: {
            // The unit holds whole tables only now.
            m_closed = true;
            std::error_code ec;
            std::filesystem::remove(m_mark, ec);
            logTablesSent(m_sent, m_skipped, m_clock.monotonicMs() - m_startMs);
            break;
        }
        default:
            break;
    }
}

bool TableDownload::runsOnWhenAskedToEnd(std::int64_t msToGo) {
    if (m_finishing || m_closed) return true;
    m_finishing = msToGo < kFinishBeforeTheEndMs;
    qCInfo(lcSync).nospace() << "asked to end during a table download, "
                             << (m_total > m_sent ? m_total - m_sent : 0) << " records left (about "
                             << (msToGo + 999) / 1000 << " s): "
                             << (m_finishing ? "finishing it with its closing frame first"
                                             : "breaking it off");
    return m_finishing;
}

TableDownload::~TableDownload() {
    // The mark stands from the opening frame until the closing one went out.
    std::error_code ec;
    if (std::filesystem::exists(m_mark, ec))
        logTableDownloadCutShort(m_clock.monotonicMs() - m_startMs);
}

bool TableDownload::takeUnfinished(const std::filesystem::path& workDir) {
    std::error_code ec;
    if (!std::filesystem::exists(markFile(workDir), ec)) return false;
    std::filesystem::remove(markFile(workDir), ec);
    logUnfinishedTableDownload();
    return true;
}

}  // namespace kv
