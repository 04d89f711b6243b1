#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "UnitClock.h"
#include "link/CommandFrame.h"
#include "link/ToUnitFrameParser.h"

namespace kvsim {

using Chip = std::array<std::uint8_t, 6>;

// The options give times in seconds; the unit counts in milliseconds.
inline std::int64_t secondsToMs(double seconds) {
    return static_cast<std::int64_t>(std::llround(seconds * 1000));
}

enum class NameRequest { always, never, alternate };

struct UnitOptions {
    std::vector<Chip> chips;  // event k reads chip (k-1) mod size; empty: built-in list
    long events = 10;         // in total; negative: without end
    double intervalS = 2;     // between the starts of two events
    int cardEvery = 0;        // every k-th event is a card event (FrameCode 5); 0 never
    NameRequest nameRequest = NameRequest::alternate;
    double answerTimeoutS = 35;
    double clockReportEveryS = 0;
    bool clockReportAtStart = false;
    double statsEveryS = 0;
    bool statsAtStart = false;
    double lingerS = 2;
    bool forever = false;
    // Start the session (the first event's interval, the "at start" frames) only when the
    // bridge has sent its first frame; before that the bridge purges whatever it finds.
    bool waitForBridge = true;
    std::uint8_t eventType = 1;
    std::uint8_t place = 1;
    bool memory32k = false;

    // Misbehaviour on request.
    bool noise = false;
    bool split = false;
    int splitPauseMs = 100;
    int truncateEvery = 0;
    int backToBackEvery = 0;
    int burstWithTables = 0;  // frames needing no request, sent at once behind a table request
    bool zInData = false;
    std::uint32_t seed = 1;

    // Pacing: the bridge reads a frame ~200 ms after its marker and purges its input after
    // every web exchange.
    int minGapMs = 400;          // between two frames sent, and after a frame received
    int afterDownloadMs = 1000;  // after the last frame of a table download
    int resendAfterMs = 5000;    // after a damaged event, longer than the bridge's read time-out
    int downloadGapMs = 3000;    // a download with no frame for this long is abandoned
};

// The built-in chip list, used when none is given.
const std::vector<Chip>& defaultChips();

struct Summary {
    long eventsSent = 0;
    long answered = 0;
    long answeredWithName = 0;
    long timedOut = 0;
    long eventsResent = 0;
    long unexpectedAnswers = 0;
    std::vector<std::string> names;  // as received, Windows-1250, blanks trimmed
    long tableDownloads = 0;
    long incompleteDownloads = 0;
    long s1Records = 0;  // in the unit's tables (the last complete download)
    long s2Records = 0;
    long s1RecordsTotal = 0;  // over all complete downloads
    long s2RecordsTotal = 0;
    long tablesChanged = 0;  // FrameCode 7 received
    long tableRequests = 0;  // FrameCode 1 sent
    long clockSets = 0;
    std::optional<kv::WallTime> lastClockSet;
    long clockReports = 0;
    long statsRequests = 0;
    long statsSent = 0;
    long chipRequests = 0;
    long fictitiousEvents = 0;
    long framesSent = 0;
    long framesReceived = 0;
    long unknownFrames = 0;
    long bridgePurges = 0;
    long damagedFrames = 0;
    std::uint64_t garbageBytes = 0;
    long pendingAtEnd = 0;  // an event sent but neither answered nor timed out
};

// The unit's tables as the bridge downloaded them: the frames as received.
struct Table {
    std::vector<kv::CommandFrame> section1;  // FrameCode 3 records
    std::vector<kv::CommandFrame> section2;  // FrameCode 4 records
};

// The control unit, fed with the bridge's bytes and with time, producing the unit's bytes.  No
// I/O of its own: whoever drives it reads the line, calls onBytes() and advance(), writes what
// takeOutput() returns and comes back no later than nextWakeMs().
class Unit {
public:
    using LogSink = std::function<void(std::string_view line)>;

    Unit(UnitOptions options, std::int64_t nowMs, const kv::WallTime& clock, LogSink log = {});

    void onBytes(std::string_view bytes, std::int64_t nowMs);
    // The bridge purged its port: its output (bytes it wrote that never reached the unit)
    // and/or its input (bytes the unit wrote that the bridge had not read).  Only noted.
    void onPurge(bool bridgeOutput, bool bridgeInput, std::int64_t nowMs);
    void advance(std::int64_t nowMs);
    std::string takeOutput();
    std::int64_t nextWakeMs() const;

    // All events sent and answered or timed out, and the linger time is over (never with
    // `forever`).
    bool finished(std::int64_t nowMs) const;
    bool sessionStarted() const { return m_sessionStarted; }

    // True once after every complete table download.
    bool takeTablesChanged();
    const Table& table() const { return m_table; }
    Summary summary() const;
    kv::WallTime clock(std::int64_t nowMs) const { return m_clock.now(nowMs); }

private:
    enum class Exchange { none, event, tables, clockReport };
    struct PendingEvent {
        long ordinal = 0;
        kv::CommandFrame frame;
        bool damaged = false;  // the last transmission was damaged on purpose
    };

    void startSession(std::int64_t nowMs);
    void handleFrame(const kv::CommandFrame& f, std::int64_t nowMs);
    void handleAnswer(const kv::CommandFrame& f, std::int64_t nowMs);
    void finishDownload(std::int64_t nowMs);
    void checkDeadlines(std::int64_t nowMs);
    void sendNext(std::int64_t nowMs);
    // Sends 'Z' and the frame with whatever misbehaviour is due; true when it went out damaged.
    bool transmit(const kv::CommandFrame& f, std::int64_t nowMs, bool mayDamage);
    void setExchange(Exchange e, std::int64_t deadlineMs);

    kv::CommandFrame eventFrame(long ordinal, std::int64_t nowMs) const;
    kv::CommandFrame statisticsFrame(std::int64_t nowMs) const;
    kv::CommandFrame chipFrame(std::int64_t nowMs) const;
    kv::CommandFrame clockReportFrame(std::int64_t nowMs) const;
    int queuedEvents(std::int64_t nowMs) const;
    bool eventsDone() const;

    void log(const std::string& line) const;

    UnitOptions m_opt;
    LogSink m_log;
    UnitClock m_clock;
    kv::ToUnitFrameParser m_parser;
    std::mt19937 m_random;

    bool m_sessionStarted = false;
    std::int64_t m_earliestSendMs = 0;
    std::int64_t m_nextEventDueMs = 0;
    long m_nextOrdinal = 1;
    std::optional<std::int64_t> m_eventsDoneMs;
    bool m_lingerOver = false;

    Exchange m_exchange = Exchange::none;
    std::int64_t m_exchangeDeadlineMs = 0;
    std::optional<PendingEvent> m_awaiting;
    bool m_resendDue = false;

    bool m_wantTables = false;
    bool m_wantStats = false;
    bool m_wantChip = false;
    bool m_wantClockReport = false;
    std::optional<std::int64_t> m_nextStatsMs;
    std::optional<std::int64_t> m_nextClockReportMs;

    bool m_downloading = false;
    std::int64_t m_downloadDeadlineMs = 0;
    Table m_incoming;
    Table m_table;
    bool m_tablesChanged = false;

    std::string m_out;
    std::string m_splitRest;
    std::int64_t m_splitRestMs = 0;
    // The burst behind a table request, going out at about the line's own rate.
    std::string m_burst;
    std::int64_t m_burstNextMs = 0;

    std::optional<Chip> m_lastChip;
    std::uint8_t m_lastTerminal = 0;
    long m_transmissions = 0;

    Summary m_sum;
};

}  // namespace kvsim
