#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "sync/BridgeStatus.h"

namespace kv {

class Bridge;

// A message for someone who is not watching the window: a failure that lasts, or its end.
struct Notice {
    std::string title;  // Czech (UTF-8)
    std::string text;   // the cause and what to check
    Tone tone = Tone::failure;
};

// When a failure (the server failing or refusing every identification, the port lost, the
// tables failing) has lasted long enough
// to be told, again while it lasts, and when it is over.  One episode runs from the first
// failing status to the first status that is not failing; Stop ends it without a word, since the
// operator pressed it.  A failure of another kind within a told episode (the converter pulled
// while the server fails) asks for another check: it is told once it has lasted as long.
class FailureWatch {
public:
    static constexpr std::int64_t kFirstAfterMs = 60'000;
    static constexpr std::int64_t kAgainAfterMs = 3'600'000;
    // Failures of one kind that come and go are told at most once in this time.
    static constexpr std::int64_t kFlappingMs = 600'000;

    // The status as it is at nowMs (monotonic); the notice that is due, if any.
    std::optional<Notice> observe(const BridgeStatus& status, std::int64_t nowMs);
    // When the next notice falls due should the status not change; none outside an episode.
    std::optional<std::int64_t> nextDueMs() const;
    // The failure notice just given was not shown (the failure was over when checked): its
    // episode ends without a word, and it does not count as told.
    void holdBack();

private:
    std::optional<std::int64_t> m_sinceMs;  // the episode began
    std::optional<std::int64_t> m_toldMs;   // its last notice
    CommState m_kind = CommState::stopped;  // the failure now (running: the tables failing)
    std::int64_t m_kindSinceMs = 0;
    CommState m_toldKind = CommState::stopped;
    FaultOf m_toldFaultOf = FaultOf::connection;
    bool m_toldUnit = false;      // what was told is the unit's silence
    bool m_toldSilently = false;  // the episode was due while the flapping was held back
    std::optional<std::int64_t> m_lastFailureNoticeMs;
    CommState m_lastFailureKind = CommState::stopped;
    FaultOf m_lastFaultOf = FaultOf::connection;
    int m_lastFailureKey = -1;
    std::optional<std::int64_t> m_heldNoticeMs;  // the last failure notice before this one
    int m_outages = 0;                           // episodes held back since the last failure notice
    std::optional<std::int64_t> m_firstOfOutagesMs;
};

// The watch over a bridge's status and clock: every notice is logged as a warning (the journal
// of the service mode, kvbridge.log of the window) and handed to show (the tray, or the window
// brought up).
class FailureNotices : public QObject {
    Q_OBJECT
public:
    using Show = std::function<void(const Notice&)>;
    explicit FailureNotices(Bridge& bridge, Show show = {}, QObject* parent = nullptr);

    // Looks at the bridge's status now; the timer calls it when a notice falls due.  A server
    // failure due to be told is checked first: the server is asked again with the poll, and the
    // notice goes out only if that fails too.
    void check();

private:
    void tell(const Notice& notice);

    Bridge& m_bridge;
    Show m_show;
    // A server failure's notice, held until the server, asked again, has answered or not.
    std::optional<Notice> m_unconfirmed;
    FailureWatch m_watch;
    QTimer m_due;
};

}  // namespace kv
