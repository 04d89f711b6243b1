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
    m_reception.settleCountdown();
    periodicStep();
    m_reception.searchMarker();
    readFrame();
    awaitReply();
    processReply();
    triggerFileCheck();
    tableSyncStep();
    watchUnit();
}

void Engine::pridejcas() { kv::pridejcas(m_frame, m_clock.now()); }

bool Engine::sendWithTime(ToUnit frameCode) {
    m_frame.setCode(frameCode);
    pridejcas();
    return zobraz();
}

bool Engine::zobraz() {
    // What goes on the line is logged as it went.
    const CommandFrame frame = m_frame;
    const bool whole = m_queue.send(frame, optionOn(m_settings.slowcom));
    // The operator sees a frame code only for a frame that went out.
    if (whole) {
        show(Field::statpc, std::to_string(frame.code()));
        logToUnit(frame);
    }
    return whole;
}

void Engine::startJob(std::unique_ptr<UnitJob> job,
                      std::function<void(UnitJob& job, UnitJob::End how)> onEnd) {
    m_job = std::move(job);
    m_jobEnd = std::move(onEnd);
    m_queue.endBurst();
    m_jobProgress = JobProgress{m_job->kind(), 0, m_job->total(), m_clock.monotonicMs()};
    driveJob();
}

void Engine::driveJob() {
    if (!m_job) return;
    try {
        const std::int64_t sliceEnd = m_clock.monotonicMs() + kJobSliceMs;
        for (int frames = 0; m_job; ++frames) {
            const std::int64_t now = m_clock.monotonicMs();
            if (!m_queue.mayWriteAt(now)) break;
            if (frames >= kJobSliceFrames || now >= sliceEnd) break;
            const std::optional<UnitJob::Frame> next = m_job->next(m_clock.now());
            if (!next) return finishJob(UnitJob::End::whole);
            m_queue.pace(next->paced);
            m_frame = next->frame;
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
    return m_queue.pausedUntil().value_or(m_clock.monotonicMs());
}

bool Engine::askJobToEnd() {
    if (!m_job) return false;
    if (m_job->runsOnWhenAskedToEnd(m_com.Baud(), optionOn(m_settings.slowcom),
                                    m_queue.backlogMs()))
        return true;
    finishJob(UnitJob::End::cutShort);
    return false;
}

void Engine::finishJob(UnitJob::End how) {
    const std::unique_ptr<UnitJob> job = std::move(m_job);
    const auto onEnd = std::move(m_jobEnd);
    m_jobEnd = nullptr;
    m_queue.endBurst();
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
