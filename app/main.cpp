#include <QApplication>
#include <QDir>
#include <QFont>

#include "app/MessageBoxPrompts.h"
#include "app/TForm1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kvbridge"));
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
    services.workDir = QDir::currentPath().toStdString();

    kv::TForm1 form(services);
    form.show();
    return app.exec();
}
