#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFont>
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

#include "app/LoggingPrompts.h"
#include "app/MessageBoxPrompts.h"
#include "app/ServiceMode.h"
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
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        parser.process(core);  // prints the help asked for and ends the program
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("kvbridge %s\n", KVBRIDGE_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "kvbridge: unexpected argument: %s\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 1;
    }
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

    // The window and the tray are there first, so the program start (a delayed start, a port
    // that is waited for) shows in both; then the bridge starts.
    kv::TForm1 form(services);
    kv::Tray tray(form);
    QObject::connect(&instance, &kv::SingleInstance::showRequested, &form,
                     [&form] { kv::Tray::showWindow(form); });
    // SIGTERM and SIGINT close the window as the operator would, without a question.
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
