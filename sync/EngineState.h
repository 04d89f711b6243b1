#pragma once

#include <cstdint>
#include <optional>

#include "link/CommandFrame.h"

namespace kv {

// Where the one outstanding web request stands.
enum class ServerPhase : std::uint8_t {
    idle = 0,
    issued = 2,     // the download has been started
    waiting = 3,    // the reply deadline runs
    replyReady = 4  // the reply is complete in get.txt
};

// What the outstanding web request was made for; its reply is processed accordingly.
enum class RequestKind : std::uint8_t {
    none = 0,
    tables = 1,
    event = 2,
    recalculation = 3,
    poll = 4,
    clockReport = 7
};

// What the bridge keeps between ticks.  One instance, owned by the engine.
struct EngineState {
    CommandFrame frame;  // the frame last received, built or sent

    // The one outstanding web request.
    ServerPhase serverPhase = ServerPhase::idle;
    RequestKind requestKind = RequestKind::none;
    std::optional<std::int64_t> replyDeadline;  // monotonic ms; none while nothing is awaited
    std::int64_t replyLookMs = 0;               // the last look at the awaited reply
    std::uint8_t nameRequested = 0;
    Bytes requestUrl;
    // The identification an event request carries, and another one the unit sent after it: the
    // unit no longer waits for the answer to the first, and would take it for the other's.
    CommandFrame requestedEvent;
    std::optional<CommandFrame> laterIdentification;

    // Reception.
    std::uint16_t idleTicks = 0;
    std::uint16_t receiveSettle = 0;  // 3 marker seen, counts down, read at 1
    // The frame under way is read until then (monotonic ms), and looked at again at wakeAt.
    std::optional<std::int64_t> readDeadline;
    std::optional<std::int64_t> readWakeAt;

    // Tables-changed signalling.
    std::uint8_t tableSyncCountdown = 0;
    // Table downloads failed in a row, and the monotonic ms before which the tables are not
    // announced again (none while no back-off runs).
    std::uint32_t tableFailures = 0;
    std::optional<std::int64_t> tableRetryAt;
    std::uint8_t triggerFileError = 0;  // bit n: trigger file n could not be deleted

    std::uint16_t slowFrameCounter = 0;  // 0: no pacing; else frames since the last pacing wait
    std::uint16_t companyId = 0;
};

}  // namespace kv
