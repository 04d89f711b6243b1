#include "sync/EventLog.h"

#include "link/Cp1250.h"
#include "link/EventFields.h"
#include "sync/Logging.h"
#include "sync/Statistics.h"

namespace kv {

namespace {

QString timeText(const WallTime& t) {
    return QStringLiteral("%1.%2.%3 %4:%5:%6")
        .arg(t.day)
        .arg(t.month)
        .arg(t.year)
        .arg(t.hour)
        .arg(t.minute, 2, 10, QChar(u'0'))
        .arg(t.second, 2, 10, QChar(u'0'));
}

// The name bytes of an answer frame (2 to 16), blanks at the end left out.
QString nameIn(const CommandFrame& f) {
    Bytes name;
    for (int b = 2; b <= 16 && f[b] != 0; ++b) name.push_back(char(f[b]));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return fromCp1250(name);
}

}  // namespace

QString describeFromUnit(const CommandFrame& f) {
    switch (f.fromUnitCode()) {
        case FromUnit::tableRequest:
            return QStringLiteral("table request from the unit");
        case FromUnit::event:
            return QStringLiteral("event %1 from the unit: kod %2, type %3, place %4, %5%6")
                .arg(event::index(f))
                .arg(event::code(f))
                .arg(event::kind(f))
                .arg(event::place(f))
                .arg(timeText(event::time(f)))
                .arg(event::wantsName(f) == 1 ? QStringLiteral(", name asked for") : QString());
        case FromUnit::cardEvent:
            return QStringLiteral(
                       "card event from the unit: card %1, kod %2, type %3, place %4, %5")
                .arg(QString::fromStdString(cardEvent::cardText(f)))
                .arg(cardEvent::code(f))
                .arg(cardEvent::kind(f))
                .arg(cardEvent::place(f))
                .arg(timeText(cardEvent::time(f)));
        case FromUnit::statistics: {
            QString text = QStringLiteral("statistics from the unit:");
            for (const FieldUpdate& u : statisticsUpdates(f))
                text += QStringLiteral(" %1 %2").arg(QLatin1String(fieldName(u.field).data()),
                                                     fromCp1250(u.text));
            return text;
        }
        case FromUnit::chipNumber:
            return QStringLiteral("chip number from the unit: %1").arg(fromCp1250(chipText(f)));
        case FromUnit::clockReport:
            // Byte 2 says whether the bridge is to act on it.
            return QStringLiteral("clock report from the unit: %1.%2. %3:%4:%5%6")
                .arg(f[4])
                .arg(f[3])
                .arg(f[5])
                .arg(f[6], 2, 10, QChar(u'0'))
                .arg(f[7], 2, 10, QChar(u'0'))
                .arg(f[2] == 1 ? QString() : QStringLiteral(" (not acted on)"));
    }
    return QStringLiteral("frame %1 from the unit, not known").arg(f.code());
}

QString describeToUnit(const CommandFrame& f) {
    switch (ToUnit(f.code())) {
        case ToUnit::setClock:
            return QStringLiteral("clock of the unit set to %1").arg(timeText(timeStampAt(f, 2)));
        case ToUnit::answer:
            return f[2] == 0
                       ? QStringLiteral("answer to the unit: accepted")
                       : QStringLiteral("answer to the unit: accepted, name \"%1\"").arg(nameIn(f));
        case ToUnit::tablesChanged:
            return QStringLiteral("new tables announced to the unit");
        case ToUnit::statisticsRequest:
            return QStringLiteral("statistics asked of the unit");
        case ToUnit::chipNumberRequest:
            return QStringLiteral("chip number asked of the unit");
        case ToUnit::startOfCommunication:
            return QStringLiteral("start frame to the unit, time %1")
                .arg(timeText(timeStampAt(f, 2)));
        case ToUnit::tablesBegin:  // the download is told as a whole, with its counts
        case ToUnit::tablesEnd:
        case ToUnit::section1Record:
        case ToUnit::section2Record:
        case ToUnit::fictitiousEvent:
            break;
    }
    return {};
}

const char* requestKindName(RequestKind kind) {
    switch (kind) {
        case RequestKind::none:
            return "none";
        case RequestKind::tables:
            return "tables";
        case RequestKind::event:
            return "event";
        case RequestKind::recalculation:
            return "recalculation";
        case RequestKind::poll:
            return "poll";
        case RequestKind::clockReport:
            return "clock report";
    }
    return "?";
}

void logFromUnit(const CommandFrame& frame) { qCInfo(lcSync).noquote() << describeFromUnit(frame); }

void logToUnit(const CommandFrame& frame) {
    const QString line = describeToUnit(frame);
    if (!line.isEmpty()) qCInfo(lcSync).noquote() << line;
}

void logTriggerFile(const std::filesystem::path& file) {
    qCInfo(lcSync).noquote() << "trigger file" << QString::fromStdString(file.string())
                             << "found and deleted: tables changed";
}

void logTablesSent(std::uint64_t sent, std::uint64_t skipped, std::int64_t ms) {
    qCInfo(lcSync).nospace() << "tables sent to the unit: " << sent << " records, " << skipped
                             << " skipped, in " << ms << " ms";
}

void logTableDownloadCutShort(std::int64_t ms) {
    qCWarning(lcSync).nospace() << "table download cut short after " << ms
                                << " ms: the tables are announced again at the next start";
}

void logUnfinishedTableDownload() {
    qCInfo(lcSync) << "the last table download was cut short: announcing the tables again";
}

}  // namespace kv
