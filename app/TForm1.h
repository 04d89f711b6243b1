#pragma once

#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/PortPicker.h"
#include "app/WidgetFields.h"
#include "link/Clock.h"
#include "link/SerialDevice.h"
#include "sync/Bridge.h"
#include "sync/Prompts.h"

class QProgressBar;

namespace Ui {
class TForm1;
}

namespace kv {

class Tray;

// What the window is built on: its bridge's parts (their prompts are the window's too) and the
// desktop; tests hand in fakes.
struct FormServices {
    BridgeParts bridge;
    // Whether the desktop has a system tray to hide the window to; none: Qt is asked.
    std::function<bool()> trayAvailable;
};

// The main window: configuration, communication state, the unit's statistics and the operator's
// commands, over a bridge of its own.  appstart runs the program start (main calls it once the
// tray is there); destroying the window ends the bridge.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(FormServices services, QWidget* parent = nullptr);
    ~TForm1() override;

    void appstart();
    void appstop();
    void terminalstart();
    void cfgulozClick();
    void skrytClick();
    // The tray's click and menu reach the window; the tray learns when the window hid to it,
    // and shows the notices of a failure that lasts.  Without a tray on the desktop such a
    // failure brings the window up instead, without taking the keyboard.
    void connectTray(Tray& tray);
    void bringUpUnfocused();

    // Ending the program.  The title bar's close button (and Alt+F4) hides the window to the
    // tray while communication runs, or asks where there is no tray; closing while stopped
    // ends at once.  quitAsking (the tray's "Ukončit") asks while communication runs;
    // closeWithoutAsking (a termination signal) never asks.
    // Both return whether the window closed.
    bool quitAsking();
    bool closeWithoutAsking();

    // Operator commands.
    void sendtimeClick();
    void Button2Click();
    void Button1Click();
    void statbutClick();
    void Button3Click();
    void Button4Click();
    void Button5Click();

    Bridge& bridge() { return *m_bridge; }
    PortPicker& portPicker() { return *m_picker; }
    WidgetFields& fields() { return m_fields; }
    std::filesystem::path configPath() const { return m_bridge->configPath(); }

    // Shown over stavdatum while a long run goes on.
    QProgressBar* progressBar() const { return m_progress; }

signals:
    // The close button hid the window to the tray; communication goes on.
    void hiddenToTray();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Tells the operator why an operation was refused; nothing when it was done.
    void tell(OperationResult result);
    // Runs a handler; a failure ends it and reaches the general error handler.
    void handle(const std::function<void()>& handler);
    // The bar over stavdatum, once a run has taken a second.
    void showProgress(const JobProgress& progress);
    void showStatus(const BridgeStatus& status);
    // The set-up hint of a start without settings; found says what became of terminal.cfg.
    void firstStartNotice(const QString& found);
    // The operator changed a setting: the bridge takes it at once, as the engine did when it
    // read the window (the address of the next request, slower transfer); saved by Uložit.
    void settingsEdited();
    bool communicationOn() const;
    bool trayAvailable() const;
    // "Skrýt" only where the tray can bring the window back.
    void updateHideButton();
    // What the window's size shows: the keyboard's reach, the history's place.
    void fitToSize();
    void placeHistory();

    enum class CloseBy { window, trayMenu, signal };
    CloseBy m_closeBy = CloseBy::window;

    std::unique_ptr<Ui::TForm1> m_ui;
    FormServices m_services;
    WidgetFields m_fields;
    std::unique_ptr<Bridge> m_bridge;
    std::unique_ptr<PortPicker> m_picker;
    bool m_showingSettings = false;  // terminal.cfg going into the window: no edits
    QProgressBar* m_progress = nullptr;
    QTimer m_ageRefresh;  // the indicator's tooltip tells how long ago, and that moves on
    QRect m_historyHome;  // where the layout puts the history, out of view at the normal size
};

}  // namespace kv
