#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>

#include "link/Clock.h"
#include "link/CommandFrame.h"
#include "sync/EngineState.h"

namespace kv {

// The log's story of a run, told in the unit's own terms: each line says what a frame meant,
// not its bytes (those go to the debug level).

// A frame from the unit: "event 12 from the unit: kod 3, type 1, place 2, 7.12.2026 11:14:19,
// name asked for".
QString describeFromUnit(const CommandFrame& frame);
// A frame to the unit; empty for the frames of a table download, told as a whole, and for
// fictitious events.
QString describeToUnit(const CommandFrame& frame);
const char* requestKindName(RequestKind kind);

void logFromUnit(const CommandFrame& frame);
void logToUnit(const CommandFrame& frame);
// A trigger file found and deleted (one that cannot be deleted is a standing warning).
void logTriggerFile(const std::filesystem::path& file);

// A table download from its opening frame to its closing one: logged with its counts and
// duration.  One that ends without its closing frame (a reply with no tables, a failed write,
// the program ended) is logged as cut short and leaves a mark in the working directory, so
// that the next program start announces the tables again and the unit gets them whole.
class TableDownloadLog {
public:
    TableDownloadLog(Clock& clock, std::filesystem::path workDir);
    ~TableDownloadLog();
    TableDownloadLog(const TableDownloadLog&) = delete;
    TableDownloadLog& operator=(const TableDownloadLog&) = delete;

    // The closing frame went out.
    void finished(std::uint64_t sent, std::uint64_t skipped);

    static std::filesystem::path markFile(const std::filesystem::path& workDir) {
        return workDir / "tables.unfinished";
    }

private:
    Clock& m_clock;
    std::filesystem::path m_mark;
    std::int64_t m_startMs;
    bool m_finished = false;
};

// True when the last download was cut short; the mark is removed.
bool takeUnfinishedTableDownload(const std::filesystem::path& workDir);

}  // namespace kv
