#pragma once

#include <QObject>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/Clock.h"
#include "link/SerialDevice.h"
#include "link/TQCCom32.h"
#include "sync/BridgeStatus.h"
#include "sync/Engine.h"
#include "sync/HttpControl.h"
#include "sync/Prompts.h"
#include "sync/TerminalConfig.h"

namespace kv {

// What a bridge is built on: the window or the service mode hands in its prompts (reports that
// hold nothing up; the bridge never asks a question), tests hand in fakes for the rest.  The
// window, the service mode and the tests build their bridge from this one struct.
struct BridgeParts {
    Prompts* prompts = nullptr;
    Clock* clock = nullptr;
    SerialDeviceFactory serialFactory;
    std::function<std::unique_ptr<HttpControl>(QObject* parent)> httpFactory;
    std::filesystem::path workDir;  // terminal.cfg and the exchange files
    std::filesystem::path driveC;
    // What a missing terminal.cfg is created with.
    TerminalConfig firstConfig = defaultTerminalConfig();

    // The real port and HTTP control, drive C: as this system maps it, for the program.
    static BridgeParts production(Prompts& prompts, Clock& clock, std::filesystem::path workDir);
};

// The port communication is on, or was last started on: what the port picker and the question
// after a failed Start need of it.
struct PortInUse {
    int port = 1;
    bool open = false;
};

namespace test {
struct BridgeProbe;
}

// The bridge: the serial port, the HTTP control, the engine, its 100 ms tick and the wait for
// a lost port, built once for the window and the service mode alike.  It runs the program
// start (terminal.cfg, the delayed start, the automatic start), Start, Stop and the end, and
// passes the engine's status and history on as signals.  It is the one place that decides to open
// the port, to reopen it and to give up; it never asks the operator.
class Bridge : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 100;
    static constexpr int kRetryMs = 3000;
    static constexpr int kDelayedStartSeconds = 50;

    enum class AutoStart { asConfigured, always };

    explicit Bridge(BridgeParts parts, QObject* parent = nullptr);
    ~Bridge() override;

    // The program start: terminal.cfg read into the settings (created with the defaults when
    // missing or empty), what a program start resets, then the start of communication when the
    // configuration asks for it (always: whenever a port is chosen), after the delayed start
    // when that is ticked.  False, with the cause reported, when terminal.cfg can be neither
    // read nor written or (always) chooses no port.
    bool programStart(AutoStart mode);
    // Start: the port and the company id as the settings hold them.  Why the port did not open;
    // done also when nothing was tried (no port chosen: reported).
    PortResult start();
    // Stop, also of a delayed start that has not started yet.
    void stop();
    // The end of the program: stopped, the request under way cancelled, its files removed.
    void end();
    // Uložit: the settings into terminal.cfg, which is replaced whole.
    void saveConfig();
    // The settings as read from terminal.cfg or as the operator has changed them since.
    const TerminalConfig& settings() const { return m_engine->settings(); }
    void setSettings(const TerminalConfig& settings) { m_engine->setSettings(settings); }

    PortInUse portInUse() const { return {m_com->Port(), m_com->Opened()}; }
    const BridgeStatus& status() const { return m_engine->status(); }
    Clock& clock() { return *m_parts.clock; }
    std::filesystem::path configPath() const { return m_parts.workDir / "terminal.cfg"; }

    // Runs an operation (a tick, a button's); a failure ends it and is reported.  Nothing
    // inside waits for the line, the server or the clock, so nothing runs inside another.
    void handle(const std::function<void()>& operation);
    // One tick: the delayed start's countdown, or the engine's steps.
    void tick();

    // The operator's commands to the unit, and the run of fictitious events.
    OperationResult command(ToUnit frameCode);
    OperationResult sendFictitiousEvents(std::uint16_t count);
    // Asks the server, with the poll, whether it still fails; false when nothing was asked.
    bool pollServer();
    const Display& display() const { return m_engine->display(); }
    // The program's end: a run under way ends before its next frame, except a table download
    // through within 10 s, which finishes first; then (at once or after it) then runs.
    void whenRunEnds(std::function<void()> then);

    // One attempt to reopen a lost port now; true when it is open.
    bool retryPortNow();
    // The recalculation of attendance on the server, running or stopped: the tick runs for
    // its reply while communication is stopped, and stops again once the reply is processed.
    OperationResult recalculate();

signals:
    void statusChanged(const kv::BridgeStatus& status);
    void historyAdded(const kv::HistoryEntry& entry);
    // A field of the engine's display changed.
    void displayChanged(kv::Field field, const kv::ShownText& shown);
    // terminal.cfg has been read into the settings: what the window's settings show.
    void settingsLoaded(const kv::TerminalConfig& settings);
    // terminal.cfg was missing and has been created with the defaults.
    void configCreated();
    // terminal.cfg is empty: the settings are empty and the file is left as it is.
    void configEmpty();
    // How far a table download or a run of fictitious events has come; kind none at its end.
    void jobProgress(const kv::JobProgress& progress);

private:
    friend struct test::BridgeProbe;  // tests set up states that take long to reach

    void report(const QString& text);
    // terminal.cfg read into the settings; created first when missing.
    void loadConfig();
    // A start that nobody watches: a chosen port that does not open is waited for.
    void unattendedStart();
    void delayedStartTick();
    // The tick and the wait for the port follow the state (and a request awaited while
    // stopped).
    void followState(const BridgeStatus& status);
    // The wake timer follows what the engine has due between ticks.
    void followWake();

    BridgeParts m_parts;
    std::unique_ptr<TQCCom32> m_com;
    std::unique_ptr<HttpControl> m_http;
    std::unique_ptr<Engine> m_engine;
    QTimer m_tick;
    QTimer m_retry;
    QTimer m_wake;  // between ticks: a run's next frame, a frame's quiet or its deadline
    std::function<void()> m_afterRun;              // the end, waiting for a run to finish
    std::optional<std::int64_t> m_lastWake;        // what the engine asked to be woken at last
    std::optional<std::int64_t> m_delayedUntilMs;  // monotonic end of the delayed start
    int m_delayedShown = -1;                       // the seconds stavprac shows
};

}  // namespace kv
