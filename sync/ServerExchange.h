#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

// The one web request at a time: what it was made for, where it stands, what it carries.
struct ServerExchange {
    ServerPhase phase = ServerPhase::idle;
    RequestKind kind = RequestKind::none;
    std::optional<std::int64_t> replyDeadline;  // monotonic ms; none while nothing is awaited
    std::int64_t replyLookMs = 0;               // the last look at the awaited reply
    std::uint16_t companyId = 0;                // the company every request names
    std::uint8_t nameRequested = 0;             // the event asked for the worker's name
    // The identification an event request carries, and another one the unit sent after it: the
    // unit no longer waits for the answer to the first, and would take it for the other's.
    CommandFrame requestedEvent;
    std::optional<CommandFrame> laterIdentification;
    std::string identification;  // whose identification it carries, for the history
    // Ticks with nothing under way and nothing from the unit: the poll goes out after 2660.
    std::uint16_t idleTicks = 0;

    // Neither issued nor awaited, nor its reply in processing.
    bool idle() const { return kind == RequestKind::none && phase == ServerPhase::idle; }
};

}  // namespace kv
