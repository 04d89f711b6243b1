// The one web request at a time: issued, looked at, ended.
#include "sync/ServerExchange.h"

#include <fstream>
#include <utility>

namespace kv {

namespace {
// Room the reply file must have before a request goes out: an answer and its converted copy.
constexpr std::size_t kReplyRoom = 16 * 1024;
// Looks this far apart mean the process was held up (stopped, the PC suspended).
constexpr std::int64_t kHeldUpMs = 1000;
}  // namespace

void ServerExchange::deleteReplyFiles() {
    std::error_code ec;
    std::filesystem::remove(getTxt(), ec);
    std::filesystem::remove(getTmp(), ec);
}

std::string ServerExchange::replyRoomFault() const {
    // The file system's free space, and get.tmp created once: nothing is written before every
    // request only to be deleted.
    std::error_code ec;
    const auto space = std::filesystem::space(m_workDir, ec);
    const bool full = !ec && space.available < kReplyRoom;
    const bool created =
        !full && std::ofstream(getTmp(), std::ios::binary | std::ios::trunc).good();
    std::filesystem::remove(getTmp(), ec);
    if (created) return {};
    return "Místní disk: nelze zapsat soubor " + getTmp().string() +
           (full ? " – disk je plný" : " – zkontrolujte práva k adresáři");
}

std::string ServerExchange::issue(const Bytes& url, RequestKind kind, bool& diskFault) {
    deleteReplyFiles();
    // The tables and the poll only read: sent again, they do no harm.
    const Repeat repeat =
        kind == RequestKind::tables || kind == RequestKind::poll ? Repeat::allowed : Repeat::never;
    // An event the server records while its reply cannot be kept would leave the unit without
    // an answer, and its repeat would be recorded twice: no request without room for the reply.
    const std::string room = replyRoomFault();
    diskFault = !room.empty();
    if (diskFault) return room;
    if (!m_http.getDoc(url, getTmp(), repeat)) return m_http.outcome().cause;
    m_phase = ServerPhase::issued;
    m_kind = kind;
    return {};
}

ServerExchange::Look ServerExchange::look() {
    const std::int64_t now = m_clock.monotonicMs();
    if (m_phase == ServerPhase::issued) {
        m_phase = ServerPhase::waiting;
        m_replyDeadline = instantOfSecondsAhead(m_clock, kReplyTimeoutSeconds);
        m_replyLookMs = now;
    }
    if (m_phase != ServerPhase::waiting) return Look::nothing;
    // What has arrived is looked at before the time-out.  After the process was held up, a
    // reply that came meanwhile may still wait in the network layer: the event loop hands it
    // over before the next tick, which judges.
    const bool heldUp = now - std::exchange(m_replyLookMs, now) > kHeldUpMs;
    const HttpOutcome outcome = m_http.outcome();
    if (outcome.complete()) {
        std::error_code ec;
        std::filesystem::rename(getTmp(), getTxt(), ec);
        m_phase = ServerPhase::replyReady;
        return Look::ready;
    }
    if (m_replyDeadline && now >= *m_replyDeadline && !heldUp) return Look::timedOut;
    if (outcome.state == HttpState::failed) return Look::failed;
    return Look::nothing;
}

void ServerExchange::end() {
    m_phase = ServerPhase::idle;
    m_kind = RequestKind::none;
    m_replyDeadline.reset();
}

}  // namespace kv
