#pragma once

#include <bitset>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "link/Clock.h"
#include "link/CommandFrame.h"
#include "link/TQCCom32.h"
#include "sync/BridgeStatus.h"
#include "sync/Display.h"
#include "sync/HttpControl.h"
#include "sync/OperationResult.h"
#include "sync/PublishedView.h"
#include "sync/Reception.h"
#include "sync/RequestUrls.h"
#include "sync/ServerExchange.h"
#include "sync/ServerHealth.h"
#include "sync/TableSignalling.h"
#include "sync/TerminalConfig.h"
#include "sync/UnitCopies.h"
#include "sync/UnitJob.h"
#include "sync/UnitLine.h"
#include "sync/UnitWatch.h"

namespace kv {

namespace test {
struct EngineProbe;
}
class TableDownload;

// Where the engine keeps its exchange files (get.tmp, get.txt) and where drive C: is.
struct EnginePaths {
    std::filesystem::path workDir;
    std::filesystem::path driveC;
};

// The synchronisation engine: frames from the unit become web requests, replies go back to the
// unit as frames.  It knows nothing of the window: it sees the serial component, the HTTP
// control and the clock, takes the settings it is handed, and publishes its status and what it
// shows (the display) for the window, the tray or the log to render.
//
// Errors inside a step (files that cannot be written) are thrown as HandlerError; the caller
// ends the tick there and reports them.
class Engine {
public:
    Engine(TQCCom32& com, HttpControl& http, Clock& clock, EnginePaths paths);

    // The settings as terminal.cfg holds them, or as the operator has just changed them: the
    // address and host of every request, slower transfer and the clock with every poll take
    // effect at once.
    const TerminalConfig& settings() const { return m_settings; }
    void setSettings(const TerminalConfig& settings);

    // One 100 ms tick: every step in its fixed order.
    void tick();

    // Input from the unit has arrived: a frame waited for is read on.
    void inputArrived();
    // When a run's next frame or a frame under way is due between ticks (monotonic ms), and
    // what is done then.
    std::optional<std::int64_t> wakeDueMs() const;
    void wake();

    // Operations, asked for by the bridge on behalf of the window or a run without one.
    //
    // Start of communication on port 1 to 4: opens it at 2400 baud and, when it opens, resumes
    // communication.  Whether or not it opened, the request state goes back to idle; the company
    // id, with the idle count and the name request, is taken over only when one is given.  Done
    // when the port opened, else why not.
    PortResult startCommunication(int port, std::optional<std::uint16_t> companyId);
    // The port is open (again): input read before is dropped, the start frame with the time
    // goes out and the state is running.  Start and the return of a lost port both end here.
    void resumeCommunication(const std::string& cause = {});
    // Closes the port and shows the stopped state; a request under way stays recorded.
    void stopCommunication();
    // The open port went away: the state says so until it is back (see reopenPort).
    void portLost();
    // An unattended start found the chosen port missing: waited for as a lost port is.
    void waitForPort(int port, const PortResult& why);
    // One quiet attempt to open the lost port again; resumes when it opens.  True when open.
    bool reopenPort();
    // What a program start resets: the tables-changed signalling, pacing, the trigger error.
    void resetForProgramStart();
    // The delayed start shows its countdown in stavprac; 0 ends it ("Pracovnik").
    void showDelayedStart(int secondsLeft);
    // Operations that talk to the unit or the server are refused while communication is
    // stopped: nothing opens a port, nothing waits for a tick that does not come.
    //
    // A single command to the unit (FrameCode with the time): refused only before the first
    // Start; after a Stop it opens the last Start's port for the write and leaves it open.
    OperationResult command(ToUnit frameCode);
    // The recalculation of attendance on the server, also while communication is stopped;
    // refused, and nothing issued, while another request is under way.
    OperationResult recalculate();
    // A web request is issued or awaited.
    bool requestOutstanding() const { return m_exchange.underWay(); }
    // The program's end: no reply is awaited any more, and its files go.
    void deleteReplyFiles() { m_exchange.deleteReplyFiles(); }
    // Asks the server whether it answers, with the poll (which only reads): before a failure
    // is told, so that only what still fails is.  False when nothing was asked (a request or a
    // frame is under way, or the failure is one a page from the server does not disprove).
    bool pollServer();
    // What a tick does for the outstanding request alone, while communication is stopped: the
    // wait for its reply and the reply's processing.  Nothing is read from or sent to the unit.
    void serverStep();
    // count fictitious events (numbered from 1, paced), then the statistics request.
    OperationResult sendFictitiousEvents(std::uint16_t count);

    // Runs of frames longer than a tick (a table download, fictitious events) go to the line
    // as it takes them (UnitLine); while one runs, a tick does nothing else.
    bool jobRunning() const { return m_line.running(); }
    // The device has taken written bytes: the run goes on.
    void outputTaken();
    // Stop or the program's end: the run ends after the frames already handed over, except a
    // table download through within 10 s, which runs to its closing frame first.  True while
    // it still runs.
    bool askJobToEnd();
    // Each change of how far the run under way has come (its end: kind none).
    using JobListener = UnitLine::ProgressListener;
    void setJobListener(JobListener listener) { m_line.setProgressListener(std::move(listener)); }

    // What the engine publishes about itself (the status, the display, the history), and each
    // change of it as it happens.  Warnings that stand until the program is started again (a
    // trigger file that cannot be deleted) stand in the status: the fields show them only until
    // the next worker's name.
    PublishedView& view() { return m_view; }
    const BridgeStatus& status() const { return m_view.status(); }
    const Display& display() const { return m_view.display(); }

private:
    friend struct test::EngineProbe;  // tests set up states that take long to reach

    // The steps of the tick that are the engine's own, in order (the reception's are between
    // them): the idle count and the poll, the read frame dispatched, the reply awaited and
    // processed, the trigger files looked at.
    void countIdle();
    void periodicStep();
    // The frame under way is read once the settle ticks are over; a frame not yet whole is
    // looked at again as its input arrives, or when the line has been quiet or its time is up.
    void readFrame();
    void dispatch();
    void awaitReply();
    void processReply();
    void triggerFileCheck();

    // Hands m_frame to the line, which shows its code in statpc; false when the port did not
    // take it.
    bool zobraz();
    // FrameCode, time stamp, send; false when the line did not take it whole.
    bool sendWithTime(ToUnit frameCode);

    // Starts a web request; false (and nothing issued) when the HTTP layer refuses it.
    bool issueRequest(const Bytes& url, RequestKind kind);
    RequestSettings requestSettings() const;
    // Discards everything waiting from the unit, with the frame under way; what was sent to it
    // is left to go out.
    void purgeInput() { m_reception.purge(); }

    // A line about the identification of the request under way: its repeats are one event.
    void noteIdentification(const std::string& text, Tone tone);
    // A delivery that failed: the failure tone with its cause, until a reply that disproves it.
    void deliveryFailed(const std::string& cause, FaultOf of);
    void deliveryFailed(const std::string& cause, FaultOf of, RequestKind kind);
    // Stopped, or waiting to start: the port is not to be opened.
    bool communicationStopped() const;
    // No request is under way, no frame is being read and nothing from the unit waits: the
    // ticks count as idle, and the poll may go out.
    bool lineAndServerIdle();
    // The request failed without a reply (refused, reset, host not found): ends the wait now.
    void serverUnreachable(const std::string& cause);
    // The server answered with something other than a 2xx status: shown, and false.
    bool serverAnswered();
    // A table download that cannot start or cannot finish: why, and the tables announced again.
    void tablesNotSent(const std::string& why, const std::string& logged, bool lineFault = false);
    // A table reply with no worker in it: the unit keeps its tables; a warning, not a failure.
    void tablesWithoutWorkers(const std::string& logged);
    // The warning of records a whole download left out, in place of the last one's.
    void replaceSkippedWarning(const std::string& warning);
    // False, with the frame logged, for an event dated at a time no clock shows.
    bool possibleEvent(const WallTime& when);
    // An identification read while the answer to another one is awaited.
    void noteLaterIdentification(const CommandFrame& frame);
    // Counted once, its copies not.
    void countIdentification(const CommandFrame& frame);
    // A later copy of the identification last given a verdict (UnitCopies::replayFor): the unit
    // did not hear the answer.  It is answered again as before, without a second request
    // (counted in the status), and true.
    bool replayAnswer(const CommandFrame& frame);
    // An identification other than besides waits in what the reader holds: its hex, else empty.
    std::string identificationWaiting(const CommandFrame& besides);
    // The outstanding request is over, whatever became of it.
    void endRequest();
    // The unit has sent another identification since the event request, or is sending one: the
    // answer would go to the wrong one.  Logged with both when so.
    bool answerOverdue();
    void downloadTables();
    void sendTables();
    // What the reply means for the request it answers.
    void readReply();
    // A table download's end: what the unit got (the reply is done with after it).
    void tablesJobEnded(const TableDownload& download, UnitJob::End how);
    // The reply is done with: its files removed, the request over, the port's input purged.
    void replyDone();
    void startJob(std::unique_ptr<UnitJob> job,
                  std::function<void(UnitJob& job, UnitJob::End how)> onEnd);
    void answerEvent();
    // A 2xx event reply without "---OK---" or "---Err--", or too short to be read (of that size):
    // a failed delivery.
    void replyWithoutVerdict(std::optional<std::uint64_t> shortSize);
    void readPollReply();

    TQCCom32& m_com;
    HttpControl& m_http;
    Clock& m_clock;
    EnginePaths m_paths;
    TerminalConfig m_settings = defaultTerminalConfig();
    PublishedView m_view{m_clock, m_paths.workDir.string()};
    UnitWatch m_watch{m_clock, m_view};
    // What each part of the engine keeps between ticks.
    CommandFrame m_frame;  // the frame last received, built or sent
    Reception m_reception{m_com, m_clock};
    UnitLine m_line{m_com, m_clock};
    ServerExchange m_exchange{m_http, m_clock, m_paths.workDir};
    // What the request under way carries for the unit: the identification, whose it is (for the
    // history), and another identification the unit sent after it: the unit no longer waits
    // for the answer to the first, and would take it for the other's.
    struct Carried {
        CommandFrame event;
        std::optional<CommandFrame> later;
        std::string identification;
    };
    Carried m_carried;
    std::uint16_t m_companyId = 0;     // the company every request names
    std::uint8_t m_nameRequested = 0;  // the event asked for the worker's name
    // Ticks with nothing under way and nothing from the unit: the poll goes out after 2660.
    std::uint16_t m_idleTicks = 0;
    TableSignalling m_tables{m_clock, m_view};
    ServerHealth m_health{m_clock, m_view};
    UnitCopies m_copies{m_com, m_clock, m_reception, m_line};
    std::optional<CommandFrame> m_heldImpossible;  // held back once for its impossible date
    std::string m_skippedWarning;                  // in the status's warnings while it stands
    bool m_startedOnce = false;  // a Start has opened the port: single commands go after Stop
};

}  // namespace kv
