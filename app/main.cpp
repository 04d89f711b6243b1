#include <QApplication>
#include <QDir>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTranslator>
#include <filesystem>
#include <memory>

#include "app/CommandLine.h"
#include "app/FirstStart.h"
#include "app/LoggingPrompts.h"
#include "app/MessageBoxPrompts.h"
#include "app/ProcessWiring.h"
#include "app/ServiceMode.h"
#include "app/TForm1.h"
#include "app/Tray.h"
#include "run/Console.h"
#include "run/Logging.h"
#include "run/SingleInstance.h"

namespace {

// Qt's own texts (the standard buttons Abort, Retry, OK, Cancel) in Czech, as the window is,
// from the catalogue Debian ships in qt6-translations-l10n.  Without it they stay English.
void loadCzechQtTexts(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Czech, QLocale::CzechRepublic), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        qCInfo(lcRun) << "Qt's Czech catalogue (qtbase_cs.qm) not found; standard "
                         "buttons stay English";
}

}  // namespace

int main(int argc, char** argv) {
    kv::useParentConsole();
    kv::CommandLine commandLine;
    if (const auto status = kv::readCommandLine(argc, argv, commandLine)) return *status;
    if (commandLine.service) return kv::runService(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kvbridge"));
    QApplication::setWindowIcon(kv::Tray::packageIcon());
    kv::ProcessWiring process(kv::ProcessWiring::Mode::window);
    if (!process.claim()) return process.exitWhenOtherRuns();
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
    services.bridge = kv::BridgeParts::production(prompts, clock, std::filesystem::current_path());
    // Asked before the window's start writes terminal.cfg.
    const bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    const bool showWindow =
        kv::showsWindowAtStart(commandLine.minimized, trayAvailable, services.bridge.workDir);
    services.bridge.firstConfig = kv::firstConfigFromEnvironment(services.bridge.workDir);

    // The window and the tray are there first, so the program start (a delayed start, a port
    // that is waited for) shows in both; then the bridge starts.
    kv::TForm1 form(services);
    kv::Tray tray(form.bridge());
    form.connectTray(tray);
    QObject::connect(&process.instance(), &kv::SingleInstance::showRequested, &form,
                     [&form] { kv::Tray::showWindow(form); });
    // SIGTERM, SIGINT and SIGHUP close the window as the operator would, without a question.
    process.serve(form.bridge(), [&form] { form.closeWithoutAsking(); });
    form.move(form.screen()->availableGeometry().center() - form.rect().center());
    if (showWindow) {
        form.show();
        if (commandLine.minimized)
            qCInfo(lcRun) << "window shown although --minimized:"
                          << (trayAvailable ? "a first start, to be set up" : "there is no tray");
    } else {
        qCInfo(lcRun) << "started hidden in the tray";
    }
    form.appstart();
    return process.exec();
}
