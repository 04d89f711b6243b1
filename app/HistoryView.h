#pragma once

#include <QStringList>

class QTreeWidget;

namespace kv {

class BridgeLog;

// The window's short history: what the log recorded last, newest first, failures in red.
// Without a log the list stays empty.
void attachHistory(QTreeWidget& view, BridgeLog* log);

// Warnings that stand until the next program start, pinned in red above the history.
void pinWarnings(QTreeWidget& view, const QStringList& warnings);

}  // namespace kv
