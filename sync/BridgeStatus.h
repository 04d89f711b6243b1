#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/Clock.h"

namespace kv {

// The communication at a glance.
enum class CommState {
    stopped,        // Stop pressed, or never started
    delayedStart,   // waiting for a converter that needs time after the PC boots
    running,        // the port is open and the unit is served
    portLost,       // the port went away or is not there yet; it is opened when it comes
    serverFailing,  // the last delivery to the web application failed
};

// Communication is on (the running indicator lit): serving the unit, or waiting by itself for
// its port or its server; not stopped and not waiting to start.
inline bool communicationOn(CommState state) {
    return state != CommState::stopped && state != CommState::delayedStart;
}

// Whose failure serverFailing is: what the operator should look at, and what may end it.
enum class FaultOf {
    connection,  // no reply at all (refused, time-out, reset): any reply ends it, a poll too
    server,      // an error status or a reply without a verdict: a page is no proof it answers
    line,        // the line to the unit did not take a frame: the server is not at fault
    disk,        // the working directory cannot hold a reply
};

// How a state or a text should strike whoever reads it.
enum class Tone { normal, warning, failure };

struct BridgeStatus;

// The one table of what each state is called and how it looks; the badge, the tray, the log,
// the journal and --status all read it.
struct StateLook {
    const char* name;     // Czech (UTF-8), as the tray, the journal and --status show it
    const char* badge;    // the same, short enough for the window's state indicator
    const char* logName;  // for the log and --status --json
    Tone tone;
};
const StateLook& stateLook(CommState state);
// The state's name for the log, naming the line or the disk when the failure is theirs.
const char* stateLogName(const BridgeStatus& status);
// Background colour (0xRRGGBB) for a tone in a state, white text on it.
std::uint32_t toneColour(CommState state, Tone tone);

// What the bridge publishes about itself; one value, changed only by the engine.
struct BridgeStatus {
    CommState state = CommState::stopped;
    std::string cause;  // Czech (UTF-8): why the state is what it is; empty when all is well
    FaultOf faultOf = FaultOf::connection;  // serverFailing: whose failure it is
    Tone tone = Tone::normal;        // the state's own, raised to a warning by standing warnings
    std::string instance;            // the working directory: which bridge this is
    std::string port;                // "COM1 (/dev/ttyUSB0)" once a port was chosen
    std::string lastIdentification;  // "07:02:15 Jiří Dvořák", Czech (UTF-8)
    std::optional<WallTime> lastIdentificationAt;      // its date, told once it is not today's
    std::optional<std::int64_t> lastIdentificationMs;  // the same on the monotonic clock
    std::optional<WallTime> lastDelivery;  // the last identification the server gave a verdict
    std::optional<std::int64_t> lastDeliveryMs;  // the same on the monotonic clock
    std::uint64_t identifications = 0;  // identifications the unit sent since the start, each once
    std::uint64_t eventRequests = 0;    // requests that carried one to the web application
    std::uint64_t forwarded = 0;        // identifications delivered since the start
    std::uint64_t failed = 0;           // identifications whose delivery failed since the start
    // Copies the unit sent, not having heard the answer: answered again with the verdict
    // given, without a second request.
    std::uint64_t replayed = 0;
    std::uint64_t otherFailed = 0;     // other requests that failed: polls, tables, clock
    std::uint64_t tableDownloads = 0;  // table downloads finished since the start
    std::uint64_t tableFailures = 0;   // table downloads that failed in a row
    bool serverRefusing = false;       // the server refused every identification of late
    bool portAwaited = false;          // port lost: it was not there at Start, so nothing was lost
    std::optional<std::int64_t> nextTableAttemptMs;  // monotonic: the tables announced again
    std::vector<std::string> warnings;               // standing until the next program start
    std::optional<std::int64_t> lastUnitFrameMs;     // monotonic: the last frame from the unit
    // The unit is silent: not one frame 10 minutes after Start (a wrong port, likely), or a
    // question to it (the operator's, or the bridge's after 5 quiet minutes) unanswered for 5 s
    // (the unit switched off, its cable pulled).  Any frame from the unit ends it.
    bool unitSilent = false;
    bool unitSpokeBefore = false;  // silent after it had spoken: not answering, no wrong port
    bool requestUnderWay = false;  // a web request is issued, awaited or its reply processed

    bool operator==(const BridgeStatus&) const = default;
};

// The status in Czech words, the same wherever it is told: the tray's and the indicator's
// tooltips, --status, systemd's STATUS= and the log.
struct StatusWords {
    std::string state;               // "Port ztracen"
    std::string cause;               // why, never repeating the state; empty when all is well
    std::vector<std::string> notes;  // standing warnings, the last identification and delivery
    // One line: "Server neodpovídá: Server vrátil chybu 500; <warning>".
    std::string line() const;
    // The state with its cause, then each note.
    std::vector<std::string> lines() const;
};
// nowMs on the monotonic clock tells how long ago the last delivery was.
StatusWords statusWords(const BridgeStatus& status, std::int64_t nowMs);
// statusWords(status).line() for where no time passes (the journal, STATUS=).
std::string statusLine(const BridgeStatus& status);

// The standing warning of a unit that has sent nothing since Start.
inline constexpr const char* kUnitSilentText = "Z RJ zatím nic nepřišlo – je vybrán správný port?";
// The unit spoke, and now does not answer.
inline constexpr const char* kUnitNotAnsweringText = "RJ neodpovídá – zkontrolujte port a kabel";
// "07:02:15 Jiří Dvořák", with its date in front once it is not today's (nowMs monotonic).
std::string lastIdentificationText(const BridgeStatus& status, std::int64_t nowMs);

// The warning of a silent unit in words, empty when it is not silent.
std::string unitSilenceText(const BridgeStatus& status);

// A line of the operator's history: what happened to an identification, the tables, the port.
struct HistoryEntry {
    WallTime time;
    std::string text;  // Czech (UTF-8)
    Tone tone = Tone::normal;
    // Entries of one event repeated (one identification's failures, one failure's reminders)
    // share it, and may be shown as one line; empty for an entry that keeps its own line (each
    // identification delivered, each start and stop).
    std::string event;
};

// "3 000": a count as Czech readers group its digits.
std::string countText(std::uint64_t count);

// "07:02:15": hours, minutes and seconds padded to two digits.
std::string clockText(const WallTime& t);
// "7.12.2026".
std::string dateText(const WallTime& t);
// How long ago, as a reader takes it in: "před 12 min", past 90 minutes "před 2 h 15 min", past a
// day "před 1 dnem", "před 3 dny".
std::string ageText(std::int64_t ms);

}  // namespace kv
