#include "sync/UnitLine.h"

#include <algorithm>
#include <string_view>

#include "sync/Logging.h"

namespace kv {

namespace {
std::int64_t ceilMs(std::int64_t us) { return us >= 0 ? (us + 999) / 1000 : -((-us) / 1000); }
}  // namespace

std::int64_t UnitLine::byteUs() const {
    const std::int64_t baud = std::max(m_com.Baud(), 1);
    return (10'000'000 + baud - 1) / baud;
}

void UnitLine::look() {
    const std::int64_t held = std::clamp<std::int64_t>(m_com.BytesToWrite(), 0, m_handed);
    const std::int64_t taken = std::max(m_handed - held, m_taken);
    if (taken > m_taken) {
        // What the system took leaves one byte after the other, after what it took before.
        m_lineFreeAtUs = std::max(m_lineFreeAtUs, nowUs()) + (taken - m_taken) * byteUs();
        m_taken = taken;
        m_lastTakeMs = m_clock.monotonicMs();
        for (InFlight& f : m_inFlight)
            if (!f.leftAtUs && f.endsAt <= m_taken)
                f.leftAtUs = m_lineFreeAtUs - (m_taken - f.endsAt) * byteUs();
    }
    m_held = held;
}

bool UnitLine::mayWriteNow() const { return m_held == 0 && m_lineFreeAtUs - nowUs() <= aheadUs(); }

bool UnitLine::write(const CommandFrame& frame, bool paced) {
    look();
    const auto wire = wireForm(frame);
    // The unit sees the same 19 bytes whether they go in one write or in nineteen.
    const bool whole =
        m_com.WriteText(std::string_view(reinterpret_cast<const char*>(wire.data()), wire.size()))
            .done();
    qCDebug(lcSync) << (whole ? "sent" : "not sent whole") << hexDump(wire).c_str();
    if (!whole) return false;
    if (m_held == 0) m_lastTakeMs = m_clock.monotonicMs();  // from now on bytes may wait
    m_handed += std::int64_t(wire.size());
    look();
    if (m_written) m_written(frame);

    // Pacing: in a run's burst with slowcom ticked, after every fifth frame the next waits for
    // the start of the next clock second (after second 59, for second 1) after the frame has
    // left the line, so that a converter that needs the pause gets it on the line, not only in
    // the program.
    if (!paced)
        m_inBurst = 0;
    else if (m_inBurst == 0)
        m_inBurst = 1;
    if (m_inBurst != 0) ++m_inBurst;
    if (m_inBurst > 5 && m_slowTransfer) {
        // One reading of the clock: a second read across a second boundary would wait a second
        // too long.
        const std::int64_t mono = m_clock.monotonicMs();
        const WallTime wall = m_clock.now();
        const std::int64_t outMs = wall.second * 1000 + wall.millisecond +
                                   std::max<std::int64_t>(ceilMs(m_lineFreeAtUs) - mono, 0) +
                                   m_held * byteUs() / 1000;
        const std::int64_t outSecond = outMs / 1000;
        const std::int64_t secondsAhead = outSecond + (outSecond % 60 == 59 ? 2 : 1) - wall.second;
        m_pauseUntilMs = mono - wall.millisecond + secondsAhead * 1000;
        m_inBurst = 1;
    }
    return true;
}

bool UnitLine::send(const CommandFrame& frame) {
    m_inBurst = 0;
    return write(frame, false);
}

std::optional<std::int64_t> UnitLine::leftAtMs(std::int64_t upTo) {
    look();
    if (upTo > m_taken) return std::nullopt;
    return ceilMs(m_lineFreeAtUs - (m_taken - upTo) * byteUs());
}

void UnitLine::endBurst() {
    m_inBurst = 0;
    m_pauseUntilMs.reset();
}

void UnitLine::start(std::unique_ptr<UnitJob> job, EndHandler onEnd) {
    m_job = std::move(job);
    m_onEnd = std::move(onEnd);
    m_inFlight.clear();
    m_lastLeftUs.reset();
    m_through = false;
    m_finishing = false;
    endBurst();
    look();
    // Bytes left waiting from before count towards the deadline from the run's start.
    m_lastTakeMs = m_clock.monotonicMs();
    m_progress = JobProgress{m_job->kind(), 0, m_job->total(), m_clock.monotonicMs()};
    drive();
}

void UnitLine::drive() {
    if (!m_job) return;
    try {
        look();
        while (!m_inFlight.empty() && m_inFlight.front().leftAtUs &&
               *m_inFlight.front().leftAtUs <= nowUs()) {
            // A unit that waited longer for this frame has dropped the run: the frame and those
            // after it reach a unit that no longer takes them as the run's.
            const std::int64_t leftUs = *m_inFlight.front().leftAtUs;
            const std::optional<std::int64_t> waits = m_job->unitWaitsMs();
            if (waits && m_lastLeftUs && leftUs - *m_lastLeftUs > *waits * 1000) {
                m_stoodMs = (leftUs - *m_lastLeftUs) / 1000;
                qCWarning(lcSync).nospace()
                    << "the line to the unit stood still for " << m_stoodMs
                    << " ms between two frames of the run, longer than the unit waits (" << *waits
                    << " ms): the run ends";
                return finish(UnitJob::End::lineStood);
            }
            m_lastLeftUs = leftUs;
            m_job->left(m_inFlight.front().frame);
            m_inFlight.pop_front();
        }
        if (m_through && m_inFlight.empty()) return finish(UnitJob::End::whole);
        if (m_held > 0 && m_clock.monotonicMs() - m_lastTakeMs >= kStallMs) {
            // Nothing handed over is taken back: what the device holds still goes out if the
            // line takes it again.
            qCWarning(lcSync) << "the line to the unit took nothing for" << kStallMs / 1000 << "s,"
                              << m_held << "bytes waiting";
            return finish(UnitJob::End::lineFault);
        }
        if (!m_through) {
            const std::int64_t sliceEnd = m_clock.monotonicMs() + kSliceMs;
            for (int frames = 0;; ++frames) {
                const std::int64_t now = m_clock.monotonicMs();
                if (m_pauseUntilMs && now < *m_pauseUntilMs) break;
                m_pauseUntilMs.reset();
                if (!mayWriteNow() || frames >= kSliceFrames || now >= sliceEnd) break;
                const std::optional<UnitJob::Frame> next = m_job->next(m_clock.now());
                if (!next) {
                    m_through = true;
                    if (m_inFlight.empty()) return finish(UnitJob::End::whole);
                    break;
                }
                m_inFlight.push_back({next->frame, m_handed + 19, std::nullopt});
                // A port closed or lost under the run takes nothing.
                if (!write(next->frame, next->paced)) return finish(UnitJob::End::lineFault);
            }
        }
    } catch (...) {
        // What the run reads from could not be read: it ends, and so does what waits for it.
        if (m_job) finish(UnitJob::End::unreadable);
        throw;
    }
    publishProgress();
}

std::optional<std::int64_t> UnitLine::dueMs() const {
    if (!m_job) return std::nullopt;
    std::optional<std::int64_t> due;
    const auto atLatest = [&due](std::int64_t at) { due = due ? std::min(*due, at) : at; };
    if (!m_inFlight.empty() && m_inFlight.front().leftAtUs)
        atLatest(ceilMs(*m_inFlight.front().leftAtUs));
    if (m_held > 0)
        atLatest(m_lastTakeMs + kStallMs);  // the device's notice comes first, if any
    else if (!m_through) {
        if (m_pauseUntilMs)
            atLatest(std::max(*m_pauseUntilMs, ceilMs(m_lineFreeAtUs - aheadUs())));
        else
            atLatest(ceilMs(m_lineFreeAtUs - aheadUs()));
    }
    if (due) due = std::max(*due, m_clock.monotonicMs());
    return due;
}

bool UnitLine::askToEnd() {
    if (!m_job) return false;
    if (m_finishing) return true;
    // The frames left with the closing one, on the line and in the pauses after every fifth,
    // after what the line still carries.
    const std::uint64_t done = std::min(m_job->done(), m_job->total());
    const std::int64_t frames = std::int64_t(m_job->total() - done) + 1;
    std::int64_t ms = frames * frameUs() / 1000;
    if (m_slowTransfer) ms = std::max(ms, (frames / 5 + 1) * 1000);
    ms += std::max<std::int64_t>(ceilMs(m_lineFreeAtUs) - m_clock.monotonicMs(), 0);
    if (m_job->runsOnWhenAskedToEnd(ms)) {
        m_finishing = true;
        return true;
    }
    // What was handed over goes on out; nothing more is.
    finish(UnitJob::End::cutShort);
    return false;
}

void UnitLine::cancel() {
    if (m_job) finish(UnitJob::End::cutShort);
}

void UnitLine::finish(UnitJob::End how) {
    const std::unique_ptr<UnitJob> job = std::move(m_job);
    const EndHandler onEnd = std::move(m_onEnd);
    m_onEnd = nullptr;
    m_inFlight.clear();
    m_through = false;
    m_finishing = false;
    endBurst();
    m_progress = JobProgress{};
    if (m_progressListener) m_progressListener(m_progress);
    if (onEnd) onEnd(*job, how);
}

void UnitLine::publishProgress() {
    if (!m_job || m_job->done() == m_progress.done) return;
    m_progress.done = m_job->done();
    if (m_progressListener) m_progressListener(m_progress);
}

}  // namespace kv
