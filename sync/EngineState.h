#pragma once

#include <cstdint>
#include <optional>

#include "link/CommandFrame.h"

namespace kv {

// What the bridge keeps between ticks.  One instance, owned by the engine.
struct EngineState {
    CommandFrame frame;  // the frame last received, built or sent

    // The one outstanding web request.
    std::uint8_t serverPhase = 0;  // 0 idle, 2 issued, 3 waiting, 4 reply in get.txt
    std::uint8_t requestKind = 0;  // 0 none, 1 tables, 2 event, 3 recalculation, 4 poll, 7 clock
    std::optional<std::int64_t> replyDeadline;  // monotonic ms; none while nothing is awaited
    std::uint8_t nameRequested = 0;
    Bytes requestUrl;

    // Reception.
    std::uint16_t idleTicks = 0;
    std::uint16_t receiveSettle = 0;  // 3 marker seen, counts down, read at 1
    Bytes receiveText;                // bytes after the 'Z' marker

    // Tables-changed signalling.
    std::uint8_t tableSyncCountdown = 0;
    std::uint8_t triggerFileError = 0;

    std::uint16_t slowFrameCounter = 0;  // 0: no pacing; else frames since the last pacing wait
    std::uint16_t companyId = 0;
};

}  // namespace kv
