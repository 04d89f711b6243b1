#pragma once

#include <string>
#include <vector>

#include "sync/BridgeStatus.h"

class QTreeWidget;

namespace kv {

// The window's short history: one line for each identification, table download and port
// event, newest first, failures in red.  Technical detail stays in kvbridge.log.
void setUpHistory(QTreeWidget& view);
void addHistory(QTreeWidget& view, const HistoryEntry& entry);

// Warnings that stand until the next program start, pinned in red above the history.
void pinWarnings(QTreeWidget& view, const std::vector<std::string>& warnings);

}  // namespace kv
