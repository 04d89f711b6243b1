// The window's side of the tray: what the tray asks of the window, and what a failure that
// lasts shows.
#include <QApplication>
#include <QPointer>

#include "app/FailureNotices.h"
#include "app/TForm1.h"
#include "app/Tray.h"

namespace kv {

void TForm1::connectTray(Tray& tray) {
    connect(&tray, &Tray::showWindowRequested, this, [this] { Tray::showWindow(*this); });
    connect(&tray, &Tray::startRequested, this, [this] { handle([this] { terminalstart(); }); });
    connect(&tray, &Tray::quitRequested, this, &TForm1::quitAsking);
    connect(this, &TForm1::hiddenToTray, &tray, &Tray::tellHidden);
    new FailureNotices(
        *m_bridge,
        [this, trayShown = QPointer<Tray>(&tray)](const Notice& notice) {
            if (trayAvailable() && trayShown)
                trayShown->notify(notice);
            else if (notice.tone == Tone::failure)
                bringUpUnfocused();
        },
        this);
}

void TForm1::bringUpUnfocused() {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

}  // namespace kv
