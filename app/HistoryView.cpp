#include "app/HistoryView.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "run/BridgeLog.h"

namespace kv {

namespace {

constexpr int kShownEntries = 100;
constexpr int kPinnedRole = Qt::UserRole + 1;

int pinnedCount(const QTreeWidget& view) {
    int count = 0;
    while (count < view.topLevelItemCount() &&
           view.topLevelItem(count)->data(0, kPinnedRole).toBool())
        ++count;
    return count;
}

void paintAlert(QTreeWidgetItem& item) {
    for (int column = 0; column < 2; ++column) item.setForeground(column, QColor(0xa0, 0, 0));
}

void addEntry(QTreeWidget& view, const LogEntry& entry) {
    if (entry.type == QtDebugMsg) return;
    auto* item =
        new QTreeWidgetItem({entry.time.toString(QStringLiteral("d.M. HH:mm:ss")), entry.text});
    item->setToolTip(1, entry.text);
    if (entry.type != QtInfoMsg) paintAlert(*item);
    const int pinned = pinnedCount(view);
    view.insertTopLevelItem(pinned, item);
    while (view.topLevelItemCount() > pinned + kShownEntries)
        delete view.takeTopLevelItem(pinned + kShownEntries);
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

void pinWarnings(QTreeWidget& view, const QStringList& warnings) {
    for (int pinned = pinnedCount(view); pinned > 0; --pinned) delete view.takeTopLevelItem(0);
    for (qsizetype i = warnings.size() - 1; i >= 0; --i) {
        auto* item = new QTreeWidgetItem({QStringLiteral("trvá"), warnings[i]});
        item->setData(0, kPinnedRole, true);
        item->setToolTip(1, warnings[i]);
        QFont bold = view.font();
        bold.setBold(true);
        for (int column = 0; column < 2; ++column) item->setFont(column, bold);
        paintAlert(*item);
        view.insertTopLevelItem(0, item);
    }
}

}  // namespace kv
