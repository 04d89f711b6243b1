#include "sync/Engine.h"

#include <algorithm>
#include <string>

#include "link/Errors.h"
#include "sync/EventLog.h"
#include "sync/Logging.h"

namespace kv {

Engine::Engine(TQCCom32& com, HttpControl& http, Clock& clock, EnginePaths paths)
    : m_com(com), m_http(http), m_clock(clock), m_paths(std::move(paths)) {
    m_line.setSlowTransfer(optionOn(m_settings.slowcom));
    // What goes on the line is shown and logged as it is handed over; the operator sees a frame
    // code only for a frame the line took.
    m_line.setWrittenListener([this](const CommandFrame& frame) {
        m_frame = frame;
        m_view.show(Field::statpc, std::to_string(frame.code()));
        logToUnit(frame);
    });
}

void Engine::setSettings(const TerminalConfig& settings) {
    m_settings = settings;
    m_line.setSlowTransfer(optionOn(m_settings.slowcom));
}

void Engine::tick() {
    // A run under way has the line to itself, and the unit listens to it: what the unit sends
    // meanwhile waits for the run's end.
    if (m_line.running()) return m_line.drive();
    countIdle();
    m_reception.settleCountdown();
    periodicStep();
    m_reception.searchMarker();
    readFrame();
    awaitReply();
    processReply();
    triggerFileCheck();
    if (m_tables.step()) sendWithTime(ToUnit::tablesChanged);
    if (m_watch.step(m_view.status().state == CommState::portLost, !lineAndServerIdle()) &&
        sendWithTime(ToUnit::statisticsRequest))
        m_watch.asked();
}

bool Engine::sendWithTime(ToUnit frameCode) {
    m_frame.setCode(frameCode);
    pridejcas(m_frame, m_clock.now());
    return zobraz();
}

bool Engine::zobraz() { return m_line.send(m_frame); }

void Engine::startJob(std::unique_ptr<UnitJob> job,
                      std::function<void(UnitJob& job, UnitJob::End how)> onEnd) {
    m_line.start(std::move(job), [this, onEnd = std::move(onEnd)](UnitJob& job, UnitJob::End how) {
        // Stop let a run finish on the open port: closed once it is through.
        if (communicationStopped() && m_com.Opened()) m_com.Close();
        if (onEnd) onEnd(job, how);
    });
}

bool Engine::askJobToEnd() { return m_line.askToEnd(); }

void Engine::outputTaken() {
    if (m_line.running()) m_line.drive();
}

}  // namespace kv
