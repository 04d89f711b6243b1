#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <string>

#include "sync/CommState.h"

class QWidget;

namespace kv {

class TForm1;

// What the tray icon shows besides its colour, so that the states differ for every eye.
enum class TrayMark {
    none,
    failure,  // a cross
    paused,   // two bars
};

// The bridge in the desktop's system tray: an icon for the communication state, a tooltip with
// the state and the last identification (the seconds left during a delayed start), a click
// that brings the hidden window back, and a menu to show the window, start, stop and end.
// Without a tray on the desktop nothing shows and the window offers no "Skrýt" (a second start
// still brings a hidden window back).
class Tray : public QObject {
    Q_OBJECT
public:
    explicit Tray(TForm1& form, QObject* parent = nullptr);

    QSystemTrayIcon& icon() { return m_icon; }
    QMenu& menu() { return m_menu; }
    // Reads the window's state fields again.
    void refresh();

    // The window in front, also from hidden or minimised.
    static void showWindow(QWidget& window);
    static QIcon iconFor(CommState state);
    static TrayMark markFor(CommState state);
    // The package's icon with a disc of the colour and the mark at its lower right.
    static QIcon paintIcon(const QColor& colour, TrayMark mark);
    // The package's icon as built into the program; null when the build could not render it.
    static QIcon packageIcon();
    static QString stateText(CommState state);

private:
    void stateChanged(CommState state, const std::string& detail);

    TForm1& m_form;
    QSystemTrayIcon m_icon;
    QMenu m_menu;
    QTimer m_refresh;
    CommState m_state = CommState::stopped;
    bool m_toldHidden = false;
    QString m_detail;
};

}  // namespace kv
