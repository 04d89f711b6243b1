#include "app/StatusReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include "link/Cp1250.h"
#include "sync/Bridge.h"

namespace kv {

namespace {

QString utf8(const std::string& text) { return QString::fromStdString(text); }

const char* toneName(Tone tone) {
    switch (tone) {
        case Tone::warning:
            return "warning";
        case Tone::failure:
            return "failure";
        case Tone::normal:
            break;
    }
    return "normal";
}

}  // namespace

QJsonObject statusJson(const BridgeStatus& status, const QString& workDir, const QString& address,
                       std::int64_t nowMs) {
    const StatusWords words = statusWords(status, nowMs);
    QJsonObject json;
    json[QStringLiteral("workDir")] = workDir;
    json[QStringLiteral("state")] = QString::fromLatin1(stateLook(status.state).logName);
    json[QStringLiteral("stateName")] = utf8(words.state);
    json[QStringLiteral("cause")] = utf8(words.cause);
    json[QStringLiteral("tone")] = QString::fromLatin1(toneName(status.tone));
    json[QStringLiteral("port")] = utf8(status.port);
    json[QStringLiteral("address")] = address;
    json[QStringLiteral("lastIdentification")] = utf8(lastIdentificationText(status, nowMs));
    if (const auto& t = status.lastDelivery)
        json[QStringLiteral("lastDelivery")] =
            QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t->year, t->month, t->day, t->hour,
                              t->minute, t->second);
    else
        json[QStringLiteral("lastDelivery")] = QJsonValue::Null;
    if (status.lastDeliveryMs)
        json[QStringLiteral("lastDeliverySecondsAgo")] =
            qint64(std::max<std::int64_t>(nowMs - *status.lastDeliveryMs, 0) / 1000);
    else
        json[QStringLiteral("lastDeliverySecondsAgo")] = QJsonValue::Null;
    json[QStringLiteral("identifications")] = qint64(status.identifications);
    json[QStringLiteral("requests")] = qint64(status.eventRequests);
    json[QStringLiteral("forwarded")] = qint64(status.forwarded);
    json[QStringLiteral("failed")] = qint64(status.failed);
    json[QStringLiteral("replayed")] = qint64(status.replayed);
    json[QStringLiteral("otherFailed")] = qint64(status.otherFailed);
    json[QStringLiteral("tableDownloads")] = qint64(status.tableDownloads);
    json[QStringLiteral("tableFailures")] = qint64(status.tableFailures);
    if (status.nextTableAttemptMs)
        json[QStringLiteral("nextTableAttemptInSeconds")] =
            qint64(std::max<std::int64_t>(*status.nextTableAttemptMs - nowMs, 0) / 1000);
    else
        json[QStringLiteral("nextTableAttemptInSeconds")] = QJsonValue::Null;
    QJsonArray warnings;
    if (status.unitSilent) warnings.append(utf8(unitSilenceText(status)));
    for (const std::string& w : status.warnings) warnings.append(utf8(w));
    json[QStringLiteral("warnings")] = warnings;
    // A monitoring system sets its own limit on the unit's silence.
    json[QStringLiteral("unitSilent")] = status.unitSilent;
    if (status.lastUnitFrameMs)
        json[QStringLiteral("lastUnitFrameSecondsAgo")] =
            qint64(std::max<std::int64_t>(nowMs - *status.lastUnitFrameMs, 0) / 1000);
    else
        json[QStringLiteral("lastUnitFrameSecondsAgo")] = QJsonValue::Null;
    // The words the tooltips show, for the client to print as they are.
    QJsonArray notes;
    for (const std::string& note : words.notes) notes.append(utf8(note));
    json[QStringLiteral("notes")] = notes;
    return json;
}

QByteArray statusAnswer(Bridge& bridge, const QString& workDir) {
    return QJsonDocument(statusJson(bridge.status(), workDir, fromCp1250(bridge.settings().adresa),
                                    bridge.clock().monotonicMs()))
        .toJson(QJsonDocument::Compact);
}

int statusExitCode(const QJsonObject& status) {
    const QString state = status.value(QStringLiteral("state")).toString();
    const auto is = [&state](CommState s) { return state == QLatin1String(stateLook(s).logName); };
    if (is(CommState::stopped) || is(CommState::delayedStart)) return 2;
    if (!is(CommState::running) || !status.value(QStringLiteral("warnings")).toArray().isEmpty())
        return 1;
    return 0;
}

QString statusText(const QJsonObject& status) {
    const auto text = [&](const char* key) { return status.value(QLatin1String(key)).toString(); };
    const auto number = [&](const char* key) {
        return status.value(QLatin1String(key)).toInteger();
    };
    QStringList lines;
    lines << QStringLiteral("Stav: ") + text("stateName");
    if (!text("cause").isEmpty()) lines << QStringLiteral("Příčina: ") + text("cause");
    for (const QJsonValue& note : status.value(QStringLiteral("notes")).toArray())
        lines << note.toString();
    if (!status.value(QStringLiteral("lastDelivery")).isString())
        lines << QStringLiteral("Poslední úspěšné předání: od spuštění žádné");
    lines << QStringLiteral("Adresář: ") + text("workDir");
    lines << QStringLiteral("Port: ") +
                 (text("port").isEmpty() ? QStringLiteral("nezvolen") : text("port"));
    lines << QStringLiteral("Server: ") +
                 (text("address").isEmpty() ? QStringLiteral("nezadán") : text("address"));
    lines << QStringLiteral("Události od spuštění: předáno %1, nepředáno %2")
                 .arg(number("forwarded"))
                 .arg(number("failed"));
    if (number("otherFailed") > 0)
        lines << QStringLiteral("Jiné nezdařené požadavky (dotazy na změny, tabulky, čas): %1")
                     .arg(number("otherFailed"));
    lines << QStringLiteral("Identifikace od spuštění: %1, požadavků na server %2")
                 .arg(number("identifications"))
                 .arg(number("requests"));
    QString tables = QStringLiteral("Stažení tabulek: %1").arg(number("tableDownloads"));
    if (number("tableFailures") > 0)
        tables += QStringLiteral(", nezdařilo se %1×").arg(number("tableFailures"));
    if (status.value(QStringLiteral("nextTableAttemptInSeconds")).isDouble())
        tables += QStringLiteral(", další pokus za %1 s").arg(number("nextTableAttemptInSeconds"));
    lines << tables;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

}  // namespace kv
