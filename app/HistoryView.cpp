#include "app/HistoryView.h"

#include <QHeaderView>
#include <QTreeWidget>

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

void paint(QTreeWidgetItem& item, Tone tone) {
    if (tone == Tone::normal) return;
    const QColor colour = tone == Tone::failure ? QColor(0xa0, 0, 0) : QColor(0x8a, 0x4b, 0x00);
    for (int column = 0; column < 2; ++column) item.setForeground(column, colour);
}

}  // namespace

void setUpHistory(QTreeWidget& view) {
    view.setColumnCount(2);
    view.setHeaderLabels({QStringLiteral("Čas"), QStringLiteral("Událost")});
    view.setRootIsDecorated(false);
    view.setUniformRowHeights(true);
    view.header()->setStretchLastSection(true);
    view.setColumnWidth(0, 60);
}

void addHistory(QTreeWidget& view, const HistoryEntry& entry) {
    const QString text = QString::fromStdString(entry.text);
    auto* item = new QTreeWidgetItem({QString::fromStdString(clockText(entry.time)), text});
    item->setToolTip(1, text);
    paint(*item, entry.tone);
    const int pinned = pinnedCount(view);
    view.insertTopLevelItem(pinned, item);
    while (view.topLevelItemCount() > pinned + kShownEntries)
        delete view.takeTopLevelItem(pinned + kShownEntries);
}

void pinWarnings(QTreeWidget& view, const std::vector<std::string>& warnings) {
    for (int pinned = pinnedCount(view); pinned > 0; --pinned) delete view.takeTopLevelItem(0);
    for (auto it = warnings.rbegin(); it != warnings.rend(); ++it) {
        const QString warning = QString::fromStdString(*it);
        auto* item = new QTreeWidgetItem({QStringLiteral("trvá"), warning});
        item->setData(0, kPinnedRole, true);
        item->setToolTip(1, warning);
        QFont bold = view.font();
        bold.setBold(true);
        for (int column = 0; column < 2; ++column) item->setFont(column, bold);
        paint(*item, Tone::failure);
        view.insertTopLevelItem(0, item);
    }
}

}  // namespace kv
