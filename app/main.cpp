#include <QApplication>
#include <QDir>

#include "app/MessageBoxPrompts.h"
#include "app/TForm1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kvbridge"));

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
