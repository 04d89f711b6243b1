#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include "sync/BridgeStatus.h"

class QWidget;

namespace kv {

class TForm1;

// The bridge in the desktop's system tray: an icon for the communication state and its tone, a
// tooltip with the state, its cause, the last identification and the standing warnings, a click
// that brings the hidden window back, and a menu to show the window, start, stop and end.
// Everything follows the bridge's published status.  Without a tray on the desktop nothing
// shows; "Skrýt" then hides the window as ever and a second start brings it back.
class Tray : public QObject {
    Q_OBJECT
public:
    explicit Tray(TForm1& form, QObject* parent = nullptr);

    QSystemTrayIcon& icon() { return m_icon; }
    QMenu& menu() { return m_menu; }
    // The tooltip anew (the time since the last delivery moves on).
    void refresh();

    // The window in front, also from hidden or minimised.
    static void showWindow(QWidget& window);
    static QIcon iconFor(const BridgeStatus& status);
    // The tooltip: the program, the state and its cause, the last identification, warnings.
    static QString toolTipFor(const BridgeStatus& status, std::int64_t nowMs);

private:
    TForm1& m_form;
    QSystemTrayIcon m_icon;
    QMenu m_menu;
    QTimer m_refresh;
};

}  // namespace kv
