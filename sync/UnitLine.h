#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "link/Clock.h"
#include "link/CommandFrame.h"
#include "link/TQCCom32.h"
#include "sync/UnitJob.h"

namespace kv {

// The one owner of what goes to the unit: single frames, the run under way (a table download,
// fictitious events), the pause of slower transfer, and the line's time model.  Each frame is
// written whole as its wire form (F0 F0 A5 + 16 bytes).  Nothing here waits: a run's next frame
// is handed over only when, by the time model at the port's speed, what the line carries is
// within a frame of having left and the device has taken the last write whole; the line is
// driven again at a tick, at the time dueMs gives, and when the device tells it took bytes.  So
// "sent" means "on the line within a frame's time": a run's progress counts frames that have
// left.
class UnitLine {
public:
    // A line with bytes waiting that takes nothing for this long has failed (a unit or
    // converter that stopped reading, a driver that no longer sends).
    static constexpr std::int64_t kStallMs = 5'000;
    // A drive hands over at most this much, so a line far faster than the unit's (a test's, the
    // benchmark's) still gives the loop back.
    static constexpr std::int64_t kSliceMs = 20;
    static constexpr int kSliceFrames = 64;

    UnitLine(TQCCom32& com, Clock& clock) : m_com(com), m_clock(clock) {}

    // Slower transfer: after every fifth paced frame of a run the next waits for the start of
    // the next clock second after the frames before it have left the line.
    void setSlowTransfer(bool on) { m_slowTransfer = on; }
    // A single frame (an answer, a command, the start), handed over at once behind what the
    // line carries; true when the device queued it whole.
    bool send(const CommandFrame& frame);
    // Bytes handed over since the line was made: right after send, the count of the frame's last
    // byte.
    std::int64_t handed() const { return m_handed; }
    // When the bytes handed over up to the count upTo have left the line by the time model
    // (monotonic ms); none while the device still holds some of them.
    std::optional<std::int64_t> leftAtMs(std::int64_t upTo);
    // Told of every frame handed over, a run's too.
    using WrittenListener = std::function<void(const CommandFrame& frame)>;
    void setWrittenListener(WrittenListener listener) { m_written = std::move(listener); }

    // A run: its frames go out as the line takes them; onEnd is told how it ended.
    using EndHandler = std::function<void(UnitJob& job, UnitJob::End how)>;
    void start(std::unique_ptr<UnitJob> job, EndHandler onEnd);
    bool running() const { return m_job != nullptr; }
    // What is due now: frames that have left told to the run, the next frames handed over, the
    // run ended when its last frame has left or the line stalled.
    void drive();
    // When drive next has something to do (monotonic ms); none while no run goes on.
    std::optional<std::int64_t> dueMs() const;
    // Stop or the program's end: the run ends after the frames already handed over, except one
    // that runs on (UnitJob::runsOnWhenAskedToEnd).  True while it still runs.
    bool askToEnd();
    // Ends the run at once (a new Start).
    void cancel();
    // Each change of how far the run has come (its end: kind none).
    using ProgressListener = std::function<void(const JobProgress& progress)>;
    void setProgressListener(ProgressListener listener) {
        m_progressListener = std::move(listener);
    }

    // How long the line stood still between two frames of the run that ended as lineStood.
    std::int64_t stoodMs() const { return m_stoodMs; }

    // No burst is counted and no pause runs (a start, a reply taken).
    void endBurst();

private:
    struct InFlight {
        CommandFrame frame;
        std::int64_t endsAt;                   // its last byte's count in m_handed
        std::optional<std::int64_t> leftAtUs;  // when it has left, once the system took it
    };

    // The time one byte takes on the line (start, eight data, stop bit), rounded up.
    std::int64_t byteUs() const;
    std::int64_t frameUs() const { return 19 * byteUs(); }
    // How far ahead of the line a run's frames may be handed over: a frame, or on a line so fast
    // that frames are shorter than the clock's millisecond, a millisecond.
    std::int64_t aheadUs() const { return std::max<std::int64_t>(frameUs(), 1000); }
    std::int64_t nowUs() const { return m_clock.monotonicMs() * 1000; }
    // What the device has taken since the last look goes into the time model.
    void look();
    bool mayWriteNow() const;
    bool write(const CommandFrame& frame, bool paced);
    void finish(UnitJob::End how);
    void publishProgress();

    TQCCom32& m_com;
    Clock& m_clock;
    bool m_slowTransfer = false;
    WrittenListener m_written;
    // The time model: bytes handed to the device and taken by the system (counted since the
    // line was made), and when what was taken has left the line.
    std::int64_t m_handed = 0;
    std::int64_t m_taken = 0;
    std::int64_t m_held = 0;        // handed, not yet taken, at the last look
    std::int64_t m_lastTakeMs = 0;  // monotonic: the system last took bytes (or they began to wait)
    std::int64_t m_lineFreeAtUs = 0;  // monotonic: when what was taken has left the line
    // Slower transfer.
    std::uint16_t m_inBurst = 0;  // 0: no pacing; else frames since the last pause
    std::optional<std::int64_t> m_pauseUntilMs;
    // The run.
    std::unique_ptr<UnitJob> m_job;
    EndHandler m_onEnd;
    std::deque<InFlight> m_inFlight;           // handed over, not yet left
    std::optional<std::int64_t> m_lastLeftUs;  // the run's frame that left last, when
    std::int64_t m_stoodMs = 0;
    bool m_through = false;    // the run has given its last frame
    bool m_finishing = false;  // asked to end, and running to its last frame first
    JobProgress m_progress;
    ProgressListener m_progressListener;
};

}  // namespace kv
