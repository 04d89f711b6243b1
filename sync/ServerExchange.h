#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "link/Clock.h"
#include "link/CommandFrame.h"
#include "sync/HttpControl.h"

namespace kv {

namespace test {
struct EngineProbe;
}

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

// The one web request at a time: what it was made for, where it stands, its reply files and
// its deadline.  It is issued, looked at (a tick, or as the reply arrives) and ended by an
// explicit call; what each outcome means is the engine's.
class ServerExchange {
public:
    static constexpr int kReplyTimeoutSeconds = 30;

    ServerExchange(HttpControl& http, Clock& clock, std::filesystem::path workDir)
        : m_http(http), m_clock(clock), m_workDir(std::move(workDir)) {}

    ServerPhase phase() const { return m_phase; }
    RequestKind kind() const { return m_kind; }
    // Neither issued nor awaited, nor its reply in processing.
    bool idle() const { return m_kind == RequestKind::none && m_phase == ServerPhase::idle; }
    // Issued or awaited, or its reply not yet done with.
    bool underWay() const { return m_phase != ServerPhase::idle; }
    std::filesystem::path getTmp() const { return m_workDir / "get.tmp"; }
    std::filesystem::path getTxt() const { return m_workDir / "get.txt"; }

    // Starts a request; empty when it went out, else why not (nothing issued): no room for its
    // reply on the local disk (diskFault set), or the HTTP layer refused it.
    std::string issue(const Bytes& url, RequestKind kind, bool& diskFault);
    // One look at the awaited reply.
    enum class Look { nothing, ready, timedOut, failed };
    Look look();
    // The request is over, whatever became of it: nothing is awaited any more.
    void end();
    // The HTTP layer stops the request (a time-out).
    void cancel() { m_http.cancel(); }

    void deleteReplyFiles();
    // Empty when get.tmp can be written with room for a reply; otherwise the cause, naming the
    // local disk.
    std::string replyRoomFault() const;

private:
    friend struct test::EngineProbe;  // tests set up a reply that has arrived

    HttpControl& m_http;
    Clock& m_clock;
    std::filesystem::path m_workDir;
    ServerPhase m_phase = ServerPhase::idle;
    RequestKind m_kind = RequestKind::none;
    std::optional<std::int64_t> m_replyDeadline;  // monotonic ms; none while nothing is awaited
    std::int64_t m_replyLookMs = 0;               // the last look at the awaited reply
};

}  // namespace kv
