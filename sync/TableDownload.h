#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "link/Clock.h"
#include "link/CommandFrame.h"
#include "sync/ReplyFiles.h"
#include "sync/UnitJob.h"

namespace kv {

// What a look through the whole reply tells before a download starts, since the opening frame
// makes the unit drop the tables it holds: the records it holds, and whether it is a table.
struct TableShape {
    std::uint64_t records = 0;     // records that can be read
    std::uint64_t unreadable = 0;  // record lines that cannot be (left out of the download)
    std::uint64_t firstUnreadableLine = 0;  // 1-based; 0: none
    std::uint64_t workers = 0;              // first-section records that can be read
    bool separator = false;                 // the line between the two sections
    // A table has the separator line or at least one first-section record.  An empty reply,
    // or a page whose lines are not records (a PHP error, an HTML page with status 200) is none.
    bool isTable() const { return separator || records > 0; }
    // Empty when the table is whole; otherwise, in Czech, why it is refused all the same: more
    // than 3 records (and more than 1 %) that cannot be read is a table the web application
    // broke, and the unit keeps the tables it holds.  (A separator line in the second section
    // changes nothing; one among the first section's records makes them unreadable.)
    std::string fault() const;
};
TableShape tableShape(const std::filesystem::path& reply);

// One table download to the unit, from the converted reply (get.tmp) to the closing frame:
// the opening frame (the unit drops the tables it holds), a frame for every record that can be
// converted, the closing frame (the unit takes the tables as complete).  A job: the line takes
// its frames one at a time, and tells it which have left.
//
// From its opening frame until its closing one has left the line the download leaves a mark in the
// working directory: a download broken off (a frame the line did not take, Stop, the program ended)
// makes the next program start announce the tables again, so that the unit gets them whole.
class TableDownload : public UnitJob {
public:
    // The reply's total records at most; first is the frame the opening one is built on.
    TableDownload(Clock& clock, std::filesystem::path workDir, const std::filesystem::path& reply,
                  std::uint64_t total, const CommandFrame& first);
    ~TableDownload() override;
    TableDownload(const TableDownload&) = delete;
    TableDownload& operator=(const TableDownload&) = delete;

    JobProgress::Kind kind() const override { return JobProgress::Kind::tables; }
    std::optional<Frame> next(const WallTime& now) override;
    void left(const CommandFrame& frame) override;
    std::uint64_t done() const override { return m_sent; }
    std::uint64_t total() const override { return m_total; }
    bool runsOnWhenAskedToEnd(std::int64_t msToGo) override;
    // The unit drops a download whose next frame does not come within this time.
    std::optional<std::int64_t> unitWaitsMs() const override { return 3'000; }

    // Records left out because they cannot be converted.
    std::uint64_t skipped() const { return m_skipped; }

    static std::filesystem::path markFile(const std::filesystem::path& workDir) {
        return workDir / "tables.unfinished";
    }
    // True when the last download was broken off; the mark is removed.
    static bool takeUnfinished(const std::filesystem::path& workDir);

    // Asked to end, a download that needs less than this to its closing frame runs to it, so
    // the unit keeps whole tables (a service is given 15 s to stop); a longer one breaks off,
    // and the next start announces the tables again.
    static constexpr std::int64_t kFinishBeforeTheEndMs = 10'000;

private:
    enum class Phase : std::uint8_t { opening, records, closing, closed };

    Clock& m_clock;
    std::filesystem::path m_mark;
    ReplyLineReader m_reply;
    std::uint64_t m_total;
    CommandFrame m_frame;  // the frame last built: a record's bytes the parser leaves stay
    Phase m_phase = Phase::opening;
    ToUnit m_section = ToUnit::section1Record;
    std::int64_t m_startMs = 0;
    bool m_finishing = false;  // asked to end, and running to the closing frame first
    bool m_closed = false;     // the closing frame has left the line
    std::uint64_t m_sent = 0;  // records that have left the line
    std::uint64_t m_skipped = 0;
};

}  // namespace kv
