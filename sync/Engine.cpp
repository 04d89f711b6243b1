#include "sync/Engine.h"

#include <algorithm>
#include <string>

#include "link/Deadline.h"
#include "link/Errors.h"
#include "sync/EventLog.h"
#include "sync/Logging.h"

namespace kv {

namespace {
constexpr std::int64_t kWaitSliceMs = 100;  // the window repaints at least this often
}

Engine::Engine(TQCCom32& com, HttpControl& http, Clock& clock, EnginePaths paths)
    : m_com(com), m_http(http), m_clock(clock), m_paths(std::move(paths)) {
    m_status.instance = m_paths.workDir.string();
    m_published = m_status;
}

void Engine::tick() {
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

    // Pacing: in a burst with slowcom ticked, after every fifth frame wait for the start of the
    // next clock second (after second 59, for second 1) after the frame has left the line, so
    // that a converter that needs the pause gets it on the line, not only in the program.
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
        Deadline until(m_clock, mono - wall.millisecond + secondsAhead * 1000);
        while (!until.expired()) {
            until.sleepSlice(kWaitSliceMs);
            waitHook();
        }
        m_state.slowFrameCounter = 1;
    }
    return whole;
}

}  // namespace kv
