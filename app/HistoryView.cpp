#include "app/HistoryView.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "run/BridgeLog.h"

namespace kv {

namespace {

constexpr int kShownEntries = 100;

void addEntry(QTreeWidget& view, const LogEntry& entry) {
    if (entry.type == QtDebugMsg) return;
    auto* item =
        new QTreeWidgetItem({entry.time.toString(QStringLiteral("d.M. HH:mm:ss")), entry.text});
    item->setToolTip(1, entry.text);
    if (entry.type != QtInfoMsg) {
        for (int column = 0; column < 2; ++column) item->setForeground(column, QColor(0xa0, 0, 0));
    }
    view.insertTopLevelItem(0, item);
    while (view.topLevelItemCount() > kShownEntries) delete view.takeTopLevelItem(kShownEntries);
}

}  // namespace

void attachHistory(QTreeWidget& view, BridgeLog* log) {
    view.setColumnCount(2);
    view.setHeaderLabels({QStringLiteral("Čas"), QStringLiteral("Událost")});
    view.setRootIsDecorated(false);
    view.setUniformRowHeights(true);
    view.header()->setStretchLastSection(true);
    view.setColumnWidth(0, 90);
    if (log == nullptr) return;
    for (const LogEntry& entry : log->history()) addEntry(view, entry);
    QObject::connect(log, &BridgeLog::entryAdded, &view,
                     [&view](const LogEntry& entry) { addEntry(view, entry); });
}

}  // namespace kv
