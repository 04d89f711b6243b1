#pragma once

class QTreeWidget;

namespace kv {

class BridgeLog;

// The window's short history: what the log recorded last, newest first, failures in red.
// Without a log the list stays empty.
void attachHistory(QTreeWidget& view, BridgeLog* log);

}  // namespace kv
