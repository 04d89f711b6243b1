#include "sync/Engine.h"

#include <algorithm>
#include <string>

#include "link/Errors.h"
#include "sync/EventLog.h"
#include "sync/Logging.h"

namespace kv {

namespace {
// A run's slice: the window and the tick get the loop back at least this often.
constexpr std::int64_t kJobSliceMs = 20;
constexpr int kJobSliceFrames = 64;
}  // namespace

Engine::Engine(TQCCom32& com, HttpControl& http, Clock& clock, EnginePaths paths)
    : m_com(com), m_http(http), m_clock(clock), m_paths(std::move(paths)) {
    m_status.instance = m_paths.workDir.string();
    m_published = m_status;
}

void Engine::tick() {
    // A run under way has the line to itself, and the unit listens to it: what the unit sends
    // meanwhile waits for the run's end.
    if (m_job) return driveJob();
    countIdle();
    settleCountdown();
    periodicStep();
    searchMarker();
    readFrame();
    awaitReply();
    processReply();
    triggerFileCheck();
    tableSyncStep();
    watchUnit();
}

void Engine::pridejcas() { kv::pridejcas(m_state.frame, m_clock.now()); }

bool Engine::sendWithTime(ToUnit frameCode) {
    m_state.frame.setCode(frameCode);
    pridejcas();
    return zobraz();
}

bool Engine::zobraz() {
    // What goes on the line is logged as it went: a prompt under the write may run a handler
    // that builds another frame meanwhile.
    const CommandFrame frame = m_state.frame;
    const auto wire = wireForm(frame);
    // The unit sees the same 19 bytes whether they go in one write or in nineteen; one write
    // keeps a long table download within what the line can carry.
    const bool whole =
        m_com.WriteText(std::string_view(reinterpret_cast<const char*>(wire.data()), wire.size()))
            .done();
    qCDebug(lcSync) << (whole ? "sent" : "not sent whole") << hexDump(wire).c_str();
    // The operator sees a frame code only for a frame that went out.
    if (whole) {
        show(Field::statpc, std::to_string(frame.code()));
        logToUnit(frame);
    }
    // The write returns once the system holds the bytes; they leave the line later, one start,
    // eight data and one stop bit each.
    const std::int64_t lineMs = std::int64_t(wire.size()) * 10 * 1000 / std::max(m_com.Baud(), 1);
    m_lineFreeAtMs = std::max(m_lineFreeAtMs, m_clock.monotonicMs()) + lineMs;

    // Pacing: in a burst with slowcom ticked, after every fifth frame the next waits for the
    // start of the next clock second (after second 59, for second 1) after the frame has left
    // the line, so that a converter that needs the pause gets it on the line, not only in the
    // program.
    if (m_state.slowFrameCounter != 0) ++m_state.slowFrameCounter;
    if (m_state.slowFrameCounter > 5 && optionOn(m_settings.slowcom)) {
        // One reading of the clock: a second read across a second boundary would wait a second
        // too long.
        const std::int64_t mono = m_clock.monotonicMs();
        const WallTime wall = m_clock.now();
        const std::int64_t outMs = wall.second * 1000 + wall.millisecond +
                                   std::max<std::int64_t>(m_lineFreeAtMs - mono, 0);
        const std::int64_t outSecond = outMs / 1000;
        const std::int64_t secondsAhead = outSecond + (outSecond % 60 == 59 ? 2 : 1) - wall.second;
        m_pauseUntilMs = mono - wall.millisecond + secondsAhead * 1000;
        m_state.slowFrameCounter = 1;
    }
    return whole;
}

void Engine::startJob(std::unique_ptr<UnitJob> job,
                      std::function<void(UnitJob& job, UnitJob::End how)> onEnd) {
    m_job = std::move(job);
    m_jobEnd = std::move(onEnd);
    m_pauseUntilMs.reset();
    m_jobProgress = JobProgress{m_job->kind(), 0, m_job->total(), m_clock.monotonicMs()};
    driveJob();
}

void Engine::driveJob() {
    if (!m_job) return;
    try {
        const std::int64_t sliceEnd = m_clock.monotonicMs() + kJobSliceMs;
        for (int frames = 0; m_job; ++frames) {
            const std::int64_t now = m_clock.monotonicMs();
            if (m_pauseUntilMs && now < *m_pauseUntilMs) break;
            m_pauseUntilMs.reset();
            if (frames >= kJobSliceFrames || now >= sliceEnd) break;
            const std::optional<UnitJob::Frame> next = m_job->next(m_clock.now());
            if (!next) return finishJob(UnitJob::End::whole);
            if (!next->paced)
                m_state.slowFrameCounter = 0;
            else if (m_state.slowFrameCounter == 0)
                m_state.slowFrameCounter = 1;
            m_state.frame = next->frame;
            if (!zobraz()) return finishJob(UnitJob::End::lineFault);
            m_job->sent();
        }
    } catch (...) {
        // What the run reads from could not be read: it ends, and so does what waits for it.
        if (m_job) finishJob(UnitJob::End::unreadable);
        throw;
    }
    publishJobProgress();
}

std::optional<std::int64_t> Engine::jobDueMs() const {
    if (!m_job) return std::nullopt;
    return m_pauseUntilMs.value_or(m_clock.monotonicMs());
}

bool Engine::askJobToEnd() {
    if (!m_job) return false;
    const std::int64_t backlogMs =
        std::max<std::int64_t>(m_lineFreeAtMs - m_clock.monotonicMs(), 0);
    if (m_job->runsOnWhenAskedToEnd(m_com.Baud(), optionOn(m_settings.slowcom), backlogMs))
        return true;
    finishJob(UnitJob::End::cutShort);
    return false;
}

void Engine::finishJob(UnitJob::End how) {
    const std::unique_ptr<UnitJob> job = std::move(m_job);
    const auto onEnd = std::move(m_jobEnd);
    m_jobEnd = nullptr;
    m_pauseUntilMs.reset();
    m_state.slowFrameCounter = 0;
    m_jobProgress = JobProgress{};
    if (m_jobListener) m_jobListener(m_jobProgress);
    // Stop let a run finish on the open port: closed once it is through.
    if (communicationStopped() && m_com.Opened()) m_com.Close();
    if (onEnd) onEnd(*job, how);
}

void Engine::publishJobProgress() {
    if (!m_job || m_job->done() == m_jobProgress.done) return;
    m_jobProgress.done = m_job->done();
    if (m_jobListener) m_jobListener(m_jobProgress);
}

}  // namespace kv
