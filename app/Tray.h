#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <utility>

#include "app/FailureNotices.h"
#include "sync/BridgeStatus.h"

class QWidget;

namespace kv {

class Bridge;

// What the tray icon shows besides its colour, so that the states differ for every eye.
enum class TrayMark {
    none,
    failure,  // a cross
    paused,   // two bars
};

// The bridge in the desktop's system tray: an icon for the communication state and its tone, a
// tooltip with the state, its cause, the last identification and the standing warnings, a click
// that asks for the hidden window back, and a menu to show the window, start, stop and end.
// Everything follows the bridge's signals; the window is the caller's to connect.  Without a
// tray on the desktop nothing shows and the window offers no "Skrýt" (a second start still
// brings a hidden window back).
class Tray : public QObject {
    Q_OBJECT
public:
    explicit Tray(Bridge& bridge, QObject* parent = nullptr);

    QSystemTrayIcon& icon() { return m_icon; }
    QMenu& menu() { return m_menu; }
    // The tooltip anew (the time since the last delivery moves on).
    void refresh();
    // The first time the close button hides the window, the tray says where it went.
    void tellHidden();
    // A failure that lasts, or its end, as a message from the icon.
    void notify(const Notice& notice);

    // The window in front, also from hidden or minimised.
    static void showWindow(QWidget& window);
    static QIcon iconFor(const BridgeStatus& status);
    static TrayMark markFor(const BridgeStatus& status);
    // The package's icon with a disc of the colour and the mark at its lower right.
    static QIcon paintIcon(const QColor& colour, TrayMark mark);
    // The package's icon as built into the program; null when the build could not render it.
    static QIcon packageIcon();
    // The tooltip: the program, then the status's words (as the indicator's tooltip has them).
    static QString toolTipFor(const BridgeStatus& status, std::int64_t nowMs);

signals:
    // A click on the icon or "Zobrazit okno".
    void showWindowRequested();
    // "Start" in the menu: started as the window's button starts.
    void startRequested();
    // "Ukončit" in the menu.
    void quitRequested();
    // A notice was shown (what tests and the log follow; the desktop draws it).
    void noticeShown(const kv::Notice& notice);

private:
    Bridge& m_bridge;
    QSystemTrayIcon m_icon;
    QMenu m_menu;
    QTimer m_refresh;
    bool m_toldHidden = false;
    std::pair<CommState, Tone> m_look{CommState::stopped, Tone::normal};
};

}  // namespace kv
