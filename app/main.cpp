#include <QApplication>
#include <QFont>
#include <QScreen>
#include <filesystem>

#include "app/MessageBoxPrompts.h"
#include "app/TForm1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kvbridge"));
    // The bridge ends only when its window is closed: not when it is hidden and a message box
    // closes, and not later than that because a message box is still open.
    QApplication::setQuitOnLastWindowClosed(false);
    // The window is laid out in pixels for an 8-point sans serif of classic Windows metrics.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});

    kv::SystemClock clock;
    kv::MessageBoxPrompts prompts;
    kv::FormServices services;
    services.prompts = &prompts;
    services.clock = &clock;
    services.serialFactory = [] { return kv::makeQtSerialDevice(); };
    services.httpFactory = [](QObject* parent) { return kv::makeQtHttpControl(parent); };
    services.workDir = std::filesystem::current_path();

    kv::TForm1 form(services);
    form.move(form.screen()->availableGeometry().center() - form.rect().center());
    form.show();
    return app.exec();
}
