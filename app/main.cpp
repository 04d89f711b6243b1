#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFont>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTranslator>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/FirstStart.h"
#include "app/LoggingPrompts.h"
#include "app/MessageBoxPrompts.h"
#include "app/ServiceMode.h"
#include "app/StatusReport.h"
#include "app/TForm1.h"
#include "app/Tray.h"
#include "run/BridgeLog.h"
#include "run/Console.h"
#include "run/Logging.h"
#include "run/SingleInstance.h"
#include "run/TerminationSignals.h"

namespace {

// Where the log goes: kvbridge.log in the working directory, and standard error as ever.
kv::LogOptions windowLogOptions() {
    kv::LogOptions options;
    options.toStderr = kv::LogOptions::Stderr::plain;
    return options;
}

// False when another bridge owns the working directory: it was asked to show its window and
// this start ends.  Decided before the log file is opened, so only the owner writes it.
bool ownsWorkDir(kv::SingleInstance& instance) {
    const kv::SingleInstance::Claim claim = instance.claim();
    if (claim == kv::SingleInstance::Claim::otherRunning) {
        qCInfo(lcRun).noquote() << instance.detail();
        return false;
    }
    return true;
}

// The first lines of a run in the log; the prompts of an automatic start may come before the
// window exists.
void logStart(const kv::SingleInstance& instance) {
    qCInfo(lcRun).noquote() << QStringLiteral("kvbridge started in %1 (process %2)")
                                   .arg(QDir::toNativeSeparators(QDir::currentPath()))
                                   .arg(QCoreApplication::applicationPid());
    if (!instance.detail().isEmpty()) qCWarning(lcRun).noquote() << instance.detail();
}

// Qt's own texts (the standard buttons Abort, Retry, OK, Cancel) in Czech, as the window is,
// from the catalogue Debian ships in qt6-translations-l10n.  Without it they stay English.
void loadCzechQtTexts(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Czech, QLocale::CzechRepublic), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        qCInfo(lcRun)
            << "Qt's Czech catalogue (qtbase_cs.qm) not found; standard buttons stay English";
}

}  // namespace

#ifndef KVBRIDGE_VERSION
#define KVBRIDGE_VERSION "unknown"
#endif

namespace {

// What --help adds to Qt's list of options.
constexpr const char* kHelpEnvironment =
    "\nEnvironment:\n"
    "  KVBRIDGE_COM1..KVBRIDGE_COM4  The device of port 1 to 4 (e.g. /dev/ttyUSB0), ahead of\n"
    "                                porty.cfg and /dev/ttyS0..3.\n"
    "  KVBRIDGE_DRIVE_C              The directory that stands for drive C: (c:\\lastid).\n"
    "  KVBRIDGE_PORT                 First start only (no terminal.cfg yet): the port, 1 to 4,\n"
    "                                or a device path, which is then remembered for port 1\n"
    "                                in porty.cfg.\n"
    "  KVBRIDGE_URL                  First start only: the web application's address.\n"
    "  KVBRIDGE_COMPANY              First start only: the company id.\n"
    "\nThe files, the exit statuses and terminal.cfg line by line: man kvbridge\n";

// kvbridge --status: asks the bridge of the working directory how it is; the exit status says it
// too (3: no bridge answered).
int printStatus(bool asJson) {
    const auto answer = kv::SingleInstance::askStatus(QDir::currentPath(), 5000);
    const QJsonObject status = answer ? QJsonDocument::fromJson(*answer).object() : QJsonObject();
    if (answer && status.isEmpty()) {
        // The bridge has its directory but not yet its window or its engine.
        if (asJson)
            std::printf("{\"state\":\"starting\"}\n");
        else
            std::printf("%s\n",
                        qPrintable(QStringLiteral("V adresáři %1 se kvbridge spouští.")
                                       .arg(QDir::toNativeSeparators(QDir::currentPath()))));
        return 2;
    }
    if (status.isEmpty()) {
        if (asJson)
            std::printf("{\"state\":\"none\"}\n");
        else
            std::printf("%s\n",
                        qPrintable(QStringLiteral("V adresáři %1 neběží žádný kvbridge.")
                                       .arg(QDir::toNativeSeparators(QDir::currentPath()))));
        return kv::kNoBridge;
    }
    if (asJson)
        std::printf("%s\n", QJsonDocument(status).toJson(QJsonDocument::Compact).constData());
    else
        std::printf("%s", kv::statusText(status).toUtf8().constData());
    return kv::statusExitCode(status);
}

struct CommandLine {
    bool service = false;
    bool minimized = false;
};

// Reads the command line before any window system is touched, so --help and --version answer
// on a machine without a display. Returns the exit status when the program should end here.
std::optional<int> parseCommandLine(int argc, char** argv, CommandLine& result) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kvbridge"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KVBRIDGE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Bridge between an attendance control unit on a serial port and the attendance web "
        "application.\nKeeps terminal.cfg and kvbridge.log in the directory it is started from."));
    // Qt's own window-system options (-platform xcb, -style ...) are single-dash words.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption service(
        QStringLiteral("service"),
        QStringLiteral("Run without a window: read terminal.cfg, start communication at once, "
                       "log to kvbridge.log and standard error, stop on %1.")
            .arg(kv::TerminationSignals::requestsToEnd()));
    parser.addOption(service);
    const QCommandLineOption minimized(
        QStringLiteral("minimized"),
        QStringLiteral("Start with the window hidden in the system tray (shown as usual where "
                       "the desktop has no tray)."));
    parser.addOption(minimized);
    const QCommandLineOption status(
        QStringLiteral("status"),
        QStringLiteral("Ask the bridge running in the working directory how it is and end: "
                       "exit status 0 running, 1 in trouble, 2 stopped, 3 none running."));
    parser.addOption(status);
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("With --status: one JSON object instead."));
    parser.addOption(json);
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("Work in <directory> instead of the current one "
                                                "(terminal.cfg, kvbridge.log; --status)."),
                                 QStringLiteral("directory"));
    parser.addOption(dir);
    // Accepted and left to QApplication, which reads them itself.
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "display", "geometry",
          "qwindowgeometry", "qwindowicon", "qwindowtitle", "style", "stylesheet", "session"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const char* name : {"reverse", "widgetcount"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }

    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "kvbridge: %s\n", qPrintable(parser.errorText()));
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 1;
    }
    if (parser.isSet(help)) {
        std::printf("%s%s", qPrintable(parser.helpText()), kHelpEnvironment);
        return 0;
    }
    if (parser.isSet(QStringLiteral("help-all"))) {
        parser.process(core);  // prints the help asked for and ends the program
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("kvbridge %s (KV-CU5 protocol, window v.7.24)\n", KVBRIDGE_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "kvbridge: unexpected argument: %s\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 1;
    }
    if (parser.isSet(dir) && !QDir::setCurrent(parser.value(dir))) {
        std::fprintf(stderr, "kvbridge: cannot work in %s\n", qPrintable(parser.value(dir)));
        return 1;
    }
    if (parser.isSet(status)) return printStatus(parser.isSet(json));
    result.service = parser.isSet(service);
    result.minimized = parser.isSet(minimized);
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    kv::useParentConsole();
    CommandLine commandLine;
    if (const auto status = parseCommandLine(argc, argv, commandLine)) return *status;
    if (commandLine.service) return kv::runService(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kvbridge"));
    QApplication::setWindowIcon(kv::Tray::packageIcon());
    kv::BridgeLog::applyDefaultFilterRules();
    kv::SingleInstance instance(QDir::currentPath());
    if (!ownsWorkDir(instance)) return 0;
    kv::BridgeLog log(windowLogOptions());
    kv::TerminationSignals termination;
    logStart(instance);
    loadCzechQtTexts(app);
    // The bridge ends only when its window is closed: not when it is hidden and a message box
    // closes, and not later than that because a message box is still open.
    QApplication::setQuitOnLastWindowClosed(false);
    // The window is laid out in pixels for an 8-point sans serif of classic Windows metrics.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});

    kv::SystemClock clock;
    kv::MessageBoxPrompts boxes;
    kv::LoggingPrompts prompts(&boxes);
    kv::FormServices services;
    services.prompts = &prompts;
    services.clock = &clock;
    services.serialFactory = [] { return kv::makeQtSerialDevice(); };
    services.httpFactory = [](QObject* parent) { return kv::makeQtHttpControl(parent); };
    services.workDir = std::filesystem::current_path();
    services.firstConfig = kv::firstConfigFromEnvironment(services.workDir);

    // The window and the tray are there first, so the program start (a delayed start, a port
    // that is waited for) shows in both; then the bridge starts.
    kv::TForm1 form(services);
    kv::Tray tray(form.bridge());
    form.connectTray(tray);
    QObject::connect(&instance, &kv::SingleInstance::showRequested, &form,
                     [&form] { kv::Tray::showWindow(form); });
    instance.setStatusAnswer(
        [&form] { return kv::statusAnswer(form.bridge(), form.fields(), QDir::currentPath()); });
    // A table download under way breaks off first: on a slow line it would hold the end for
    // minutes.
    QObject::connect(&termination, &kv::TerminationSignals::terminationRequested, &form,
                     [&form] { form.bridge().engine().setEnding(); });
    // SIGTERM, SIGINT and SIGHUP close the window as the operator would, without a question.
    kv::quitOnTermination(termination, [&form] { form.closeWithoutAsking(); });
    form.move(form.screen()->availableGeometry().center() - form.rect().center());
    if (commandLine.minimized && QSystemTrayIcon::isSystemTrayAvailable())
        qCInfo(lcRun) << "started hidden in the tray";
    else
        form.show();
    form.appstart();
    const int status = app.exec();
    qCInfo(lcRun) << "kvbridge ended";
    return status;
}
