#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cstdio>

#include "app/StatusReport.h"
#include "run/Console.h"
#include "run/SingleInstance.h"
#include "run/TerminationSignals.h"

#ifndef KVBRIDGE_VERSION
#define KVBRIDGE_VERSION "unknown"
#endif

namespace kv {

namespace {

// How long --status waits for the bridge's answer before it calls it not answering.
constexpr int kStatusAnswerMs = 2000;

QString usage() {
    return QStringLiteral(
               "Použití:\n"
               "  kvbridge [--dir ADRESÁŘ] [--minimized | --service]\n"
               "  kvbridge [--dir ADRESÁŘ] --status [--json]\n"
               "  kvbridge --help | --version\n"
               "\n"
               "Most mezi docházkovou řídicí jednotkou (RJ) na sériovém portu a docházkovou\n"
               "webovou aplikací.  Nastavení (terminal.cfg) a záznam (kvbridge.log) drží\n"
               "v adresáři, ve kterém je spuštěn.\n"
               "\n"
               "Volby:\n"
               "  --minimized      Spustit se skrytým oknem v oznamovací oblasti; kde oblast\n"
               "                   není, okno se ukáže.  Při prvním spuštění (bez terminal.cfg)\n"
               "                   se okno ukáže vždy, aby šlo nastavit.\n"
               "  --service        Běžet bez okna: načíst terminal.cfg, hned spustit komunikaci,\n"
               "                   zapisovat do kvbridge.log a na standardní chybový výstup,\n"
               "                   skončit na %1.  Nelze spojit s --minimized.\n"
               "  --status         Zeptat se kvbridge běžícího v adresáři, jak se mu daří, a\n"
               "                   skončit s kódem 0 běží, 1 potíže (i když do 2 s neodpoví),\n"
               "                   2 zastaven, 3 žádný neběží nebo přístup odepřen.\n"
               "  --json           Se --status: jeden objekt JSON.\n"
               "  --dir ADRESÁŘ    Pracovat v ADRESÁŘI místo aktuálního adresáře.\n"
               "  -h, --help       Vypsat tuto nápovědu.\n"
               "  -v, --version    Vypsat verzi.\n"
               "Chybný příkazový řádek končí kódem 2.\n")
        .arg(TerminationSignals::requestsToEnd());
}

constexpr const char* kEnvironment =
    "\nProměnné prostředí:\n"
    "  KVBRIDGE_COM1..KVBRIDGE_COM4  Zařízení portu 1 až 4 (např. /dev/ttyUSB0); mají přednost\n"
    "                                před porty.cfg i před /dev/ttyS0..3.\n"
    "  KVBRIDGE_DRIVE_C              Adresář, který zastupuje disk C: (c:\\lastid); jinak\n"
    "                                pracovní adresář vedle terminal.cfg (ve Windows C:\\).\n"
    "  KVBRIDGE_PORT                 Jen při prvním spuštění (ještě bez terminal.cfg): port 1\n"
    "                                až 4, nebo cesta k zařízení, která se pro port 1 zapíše\n"
    "                                do porty.cfg.\n"
    "  KVBRIDGE_URL                  Jen při prvním spuštění: adresa webové aplikace.\n"
    "  KVBRIDGE_COMPANY              Jen při prvním spuštění: číslo firmy.\n"
    "\nCo kvbridge hlásí sám:\n"
    "  Porucha (server, port, tabulky) trvající minutu: oznámení v oznamovací oblasti s tím,\n"
    "  co zkontrolovat, znovu každou hodinu nebo po minutě poruchy jiného druhu, a krátké,\n"
    "  když pomine, s tím, co je zpět; bez oznamovací oblasti se ukáže okno.  Před oznámením\n"
    "  poruchy serveru se server znovu zeptá (dotaz na změny); porucha, která přichází a\n"
    "  odchází, se oznámí nejvýš jednou za 10 minut a pak souhrnem.  Se --service jdou tytéž\n"
    "  řádky do záznamu jako varování a historie okna jako řádky \"Historie: …\".\n"
    "  Otevřený dialog nic nezdrží: identifikace se předávají dál.  Stop ukončí stahování\n"
    "  tabulek nebo fiktivní události před dalším rámcem (tabulky, kterým zbývá méně než\n"
    "  10 s, se dokončí).\n"
    "  Z RJ 10 minut od startu nic nepřišlo: upozornění \"Z RJ zatím nic nepřišlo – je vybrán\n"
    "  správný port?\".  RJ, která mluvila a 5 minut mlčí, se zeptá na statistiku (a znovu\n"
    "  každých 5 minut); bez odpovědi do 5 s upozornění \"RJ neodpovídá\".  Obojí: --status\n"
    "  končí 1, --json to má ve warnings, oznámení po minutě.\n"
    "  Ztracený port se vrátí sám, je-li to týž port: převodník USB podle sériového čísla,\n"
    "  pevný port podle zařízení, pseudoterminál podle jména.\n"
    "\nSoubory, návratové kódy a terminal.cfg řádek po řádku: man kvbridge\n";

int wrongCommandLine(const QString& why) {
    std::fprintf(stderr, "kvbridge: %s\n\n%s", qPrintable(why), qPrintable(usage()));
    return kWrongCommandLine;
}

// Qt's reason for a command line it cannot read, in Czech.
QString parseError(const QCommandLineParser& parser) {
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().constFirst();
        return QStringLiteral("neznámá volba %1%2")
            .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
    }
    const QString qtText = parser.errorText();
    const QString option =
        QRegularExpression(QStringLiteral("'([^']*)'")).match(qtText).captured(1);
    if (qtText.startsWith(QLatin1String("Missing value")))
        return QStringLiteral("volbě %1 chybí hodnota").arg(option);
    if (qtText.startsWith(QLatin1String("Unexpected value")))
        return QStringLiteral("volba %1 nemá hodnotu").arg(option);
    return QStringLiteral("příkazový řádek nelze přečíst (%1)").arg(qtText);
}

void printLine(const QString& text) { std::printf("%s\n", text.toUtf8().constData()); }

// kvbridge --status: asks the bridge of the working directory how it is; the exit status says
// it too.  The lock tells whether a bridge runs at all, so a silent one is not taken for none.
int printStatus(bool asJson) {
    const QString here = QDir::toNativeSeparators(QDir::currentPath());
    const SingleInstance::StatusQuery query =
        SingleInstance::queryStatus(QDir::currentPath(), kStatusAnswerMs);
    const QJsonObject status = QJsonDocument::fromJson(query.answer).object();
    switch (query.outcome) {
        case SingleInstance::StatusQuery::answered:
            break;
        case SingleInstance::StatusQuery::none:
            printLine(asJson ? QStringLiteral(R"({"state":"none"})")
                             : QStringLiteral("V adresáři %1 neběží žádný kvbridge.").arg(here));
            return kNoBridge;
        case SingleInstance::StatusQuery::notAnswering:
            printLine(asJson ? QStringLiteral(R"({"state":"not answering"})")
                             : QStringLiteral("V adresáři %1 běží kvbridge, ale do %2 s "
                                              "neodpověděl.")
                                   .arg(here)
                                   .arg(kStatusAnswerMs / 1000));
            return 1;
        case SingleInstance::StatusQuery::accessDenied:
            printLine(asJson ? QStringLiteral(R"({"state":"access denied"})")
                             : QStringLiteral("Na kvbridge v adresáři %1 se nelze zeptat: "
                                              "přístup odepřen.")
                                   .arg(here));
            return kNoBridge;
    }
    if (status.isEmpty()) {
        // The bridge has its directory but not yet its window or its engine.
        printLine(asJson ? QStringLiteral(R"({"state":"starting"})")
                         : QStringLiteral("V adresáři %1 se kvbridge spouští.").arg(here));
        return 2;
    }
    if (asJson)
        printLine(QString::fromUtf8(QJsonDocument(status).toJson(QJsonDocument::Compact)));
    else
        std::printf("%s", statusText(status).toUtf8().constData());
    return statusExitCode(status);
}

// A directory that is not there: nothing can run in it, and --status says so as for none.
std::optional<int> enterDirectory(const QString& dir, bool forStatus, bool asJson) {
    if (QDir::setCurrent(dir)) return std::nullopt;
    const QString native = QDir::toNativeSeparators(dir);
    const QString why = QFileInfo::exists(dir) ? QStringLiteral("nelze do něj vstoupit")
                                               : QStringLiteral("neexistuje");
    if (forStatus) {
        printLine(
            asJson
                ? QStringLiteral(R"({"state":"none"})")
                : QStringLiteral("Adresář %1 %2; žádný kvbridge v něm neběží.").arg(native, why));
        return kNoBridge;
    }
    std::fprintf(stderr, "kvbridge: v adresáři %s nelze pracovat: %s\n", qPrintable(native),
                 qPrintable(why));
    return 1;
}

}  // namespace

std::optional<int> readCommandLine(int argc, char** argv, CommandLine& result) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kvbridge"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KVBRIDGE_VERSION));

    QCommandLineParser parser;
    // Qt's own window-system options (-platform xcb, -style ...) are single-dash words.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption service(QStringLiteral("service"));
    const QCommandLineOption minimized(QStringLiteral("minimized"));
    const QCommandLineOption status(QStringLiteral("status"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption dir(QStringLiteral("dir"), QString(), QStringLiteral("directory"));
    parser.addOptions({help, version, service, minimized, status, json, dir});
    // Accepted and left to QApplication, which reads them itself.
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "display", "geometry",
          "qwindowgeometry", "qwindowicon", "qwindowtitle", "style", "stylesheet", "session"})
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char* name : {"reverse", "widgetcount"})
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));

    if (!parser.parse(QCoreApplication::arguments())) return wrongCommandLine(parseError(parser));
    if (parser.isSet(help)) {
        std::printf("%s%s", usage().toUtf8().constData(), QByteArray(kEnvironment).constData());
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("kvbridge %s (KV-CU5 protocol, window v.7.24)\n", KVBRIDGE_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return wrongCommandLine(
            QStringLiteral("nečekaný argument %1").arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(service) && parser.isSet(minimized))
        return wrongCommandLine(QStringLiteral("--service a --minimized se vylučují"));
    if (parser.isSet(status) && (parser.isSet(service) || parser.isSet(minimized)))
        return wrongCommandLine(
            QStringLiteral("--status nelze spojit s --service ani --minimized"));
    if (parser.isSet(json) && !parser.isSet(status))
        return wrongCommandLine(QStringLiteral("--json patří jen ke --status"));
    if (parser.isSet(dir))
        if (auto failed =
                enterDirectory(parser.value(dir), parser.isSet(status), parser.isSet(json)))
            return failed;
    if (parser.isSet(status)) return printStatus(parser.isSet(json));
    if (!parser.isSet(service) && !parser.isSet(QStringLiteral("platform")))
        if (const QString why = noDisplayReason(); !why.isEmpty()) {
            std::fprintf(stderr, "kvbridge: %s\n", qPrintable(why));
            return 1;
        }
    result.service = parser.isSet(service);
    result.minimized = parser.isSet(minimized);
    return std::nullopt;
}

}  // namespace kv
