// The window's side of the tray: what the tray asks of the window.
#include "app/TForm1.h"
#include "app/Tray.h"

namespace kv {

void TForm1::connectTray(Tray& tray) {
    connect(&tray, &Tray::showWindowRequested, this, [this] { Tray::showWindow(*this); });
    connect(&tray, &Tray::quitRequested, this, &TForm1::quitAsking);
    connect(this, &TForm1::hiddenToTray, &tray, &Tray::tellHidden);
}

}  // namespace kv
