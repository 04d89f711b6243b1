#include "app/HistoryView.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <algorithm>

namespace kv {

namespace {

constexpr int kShownEntries = 100;
constexpr int kPinnedRole = Qt::UserRole + 1;
constexpr int kDayRole = Qt::UserRole + 2;      // the entry's date as yyyymmdd
constexpr int kRepeatsRole = Qt::UserRole + 3;  // how many times its text came
constexpr int kEventRole = Qt::UserRole + 4;    // the event it tells of (HistoryEntry::event)
// A repeat of the same event folds into its line this near the top: an identification that
// fails on every repeat through an hour's outage keeps one line, and its start stays in view.
// Different events never fold, however alike their words.
constexpr int kFoldWithin = 5;

int dayOf(const WallTime& t) { return (t.year * 100 + t.month) * 100 + t.day; }

// "8.12. 07:02:15" for an entry of another day than the newest.
QString shownTime(const WallTime& t, bool withDate) {
    const QString clock = QString::fromStdString(clockText(t));
    return withDate ? QStringLiteral("%1.%2. %3").arg(t.day).arg(t.month).arg(clock) : clock;
}

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
    view.header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
}

void addHistory(QTreeWidget& view, const HistoryEntry& entry) {
    const QString text = QString::fromStdString(entry.text);
    const int pinned = pinnedCount(view);
    const int day = dayOf(entry.time);
    const QString event = QString::fromStdString(entry.event);
    for (int i = pinned;
         !event.isEmpty() && i < std::min(view.topLevelItemCount(), pinned + kFoldWithin); ++i) {
        QTreeWidgetItem* item = view.topLevelItem(i);
        if (item->data(0, kEventRole).toString() != event || item->data(0, kDayRole).toInt() != day)
            continue;
        const int repeats = item->data(0, kRepeatsRole).toInt() + 1;
        const QString last = shownTime(entry.time, false);
        item->setData(0, kRepeatsRole, repeats);
        item->setText(1, QStringLiteral("%1 (%2×, naposledy %3)").arg(text).arg(repeats).arg(last));
        item->setToolTip(1,
                         QStringLiteral("%1\n%2×, naposledy %3").arg(text).arg(repeats).arg(last));
        return;
    }
    // Once the day has changed, the entries of earlier days show their date.
    for (int i = pinned; i < view.topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = view.topLevelItem(i);
        if (item->data(0, kDayRole).toInt() == day || item->text(0).contains('.')) continue;
        const auto older = item->data(0, Qt::UserRole).value<QList<int>>();
        if (older.size() == 6)
            item->setText(
                0, shownTime(WallTime{older[0], older[1], older[2], older[3], older[4], older[5]},
                             true));
    }
    auto* item = new QTreeWidgetItem({shownTime(entry.time, false), text});
    const WallTime& t = entry.time;
    item->setData(
        0, Qt::UserRole,
        QVariant::fromValue(QList<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}));
    item->setData(0, kDayRole, day);
    item->setData(0, kRepeatsRole, 1);
    item->setData(0, kEventRole, event);
    item->setToolTip(1, text);
    paint(*item, entry.tone);
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
