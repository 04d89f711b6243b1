#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>

#include "link/CommandFrame.h"
#include "sync/ServerExchange.h"

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

// A table download: sent whole with its counts and duration, broken off without its closing
// frame (the tables are announced again at the next start), or found broken off at a start.
void logTablesSent(std::uint64_t sent, std::uint64_t skipped, std::int64_t ms);
void logTableDownloadCutShort(std::int64_t ms);
void logUnfinishedTableDownload();

}  // namespace kv
