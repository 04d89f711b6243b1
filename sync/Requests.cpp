// Web requests to the attendance server: issuing one and waiting for its reply.
#include <QString>
#include <fstream>
#include <utility>

#include "link/Cp1250.h"
#include "link/EventFields.h"
#include "sync/Engine.h"
#include "sync/EventLog.h"
#include "sync/Logging.h"

namespace kv {

namespace {
constexpr int kReplyTimeoutSeconds = 30;
// Room the reply file must have before a request goes out: an answer and its converted copy.
constexpr std::size_t kReplyRoom = 16 * 1024;
// Ticks this far apart mean the process was held up (stopped, the PC suspended).
constexpr std::int64_t kHeldUpMs = 1000;

// Whose identification an event request carries, for the operator's history.
std::string identificationOf(const CommandFrame& f) {
    if (f.fromUnitCode() != FromUnit::cardEvent) return "kód " + std::to_string(event::code(f));
    return "čip " + cardEvent::cardText(f);
}
}  // namespace

RequestSettings Engine::requestSettings() const {
    return RequestSettings{m_settings.adresa, m_settings.httphost, m_exchange.companyId};
}

void Engine::deleteReplyFiles() {
    std::error_code ec;
    std::filesystem::remove(getTxt(), ec);
    std::filesystem::remove(getTmp(), ec);
}

std::string Engine::replyRoomFault() const {
    // The file system's free space, and get.tmp created once: nothing is written before every
    // request only to be deleted.
    std::error_code ec;
    const auto space = std::filesystem::space(m_paths.workDir, ec);
    const bool full = !ec && space.available < kReplyRoom;
    const bool created =
        !full && std::ofstream(getTmp(), std::ios::binary | std::ios::trunc).good();
    std::filesystem::remove(getTmp(), ec);
    if (created) return {};
    return "Místní disk: nelze zapsat soubor " + getTmp().string() +
           (full ? " – disk je plný" : " – zkontrolujte práva k adresáři");
}

bool Engine::issueRequest(const Bytes& url, RequestKind kind) {
    deleteReplyFiles();
    show(Field::urls, url);
    // The tables and the poll only read: sent again, they do no harm.
    const Repeat repeat =
        kind == RequestKind::tables || kind == RequestKind::poll ? Repeat::allowed : Repeat::never;
    // An event the server records while its reply cannot be kept would leave the unit without
    // an answer, and its repeat would be recorded twice: no request without room for the reply.
    const std::string diskFault = replyRoomFault();
    if (!diskFault.empty() || !m_http.getDoc(url, getTmp(), repeat)) {
        const std::string why = diskFault.empty() ? m_http.outcome().cause : diskFault;
        qCWarning(lcSync) << "request not sent:" << QString::fromStdString(why);
        showFault(Field::urls, cp1250("Požadavek nelze odeslat (" + why + "): ") + url);
        showFault(Field::stavprac, cp1250("Požadavek neodeslán!"));
        m_exchange.identification = kind == RequestKind::event ? identificationOf(m_frame) : "";
        const RequestKind was = std::exchange(m_exchange.kind, kind);
        deliveryFailed(diskFault.empty() ? "Požadavek nelze odeslat (" + why + ")" : diskFault,
                       diskFault.empty() ? FaultOf::connection : FaultOf::disk);
        m_exchange.kind = was;
        return false;
    }
    qCInfo(lcSync).noquote() << "request" << requestKindName(kind)
                             << QByteArray::fromStdString(url);
    m_exchange.phase = ServerPhase::issued;
    m_exchange.kind = kind;
    m_status.requestUnderWay = true;
    m_exchange.requestedEvent = m_frame;
    m_exchange.laterIdentification.reset();
    m_exchange.identification = kind == RequestKind::event ? identificationOf(m_frame) : "";
    if (kind == RequestKind::event) {
        m_forwarded = Forwarded{};
        m_forwarded->frame = m_frame;
        ++m_status.eventRequests;
    }
    publish();
    return true;
}

void Engine::awaitReply() {
    const std::int64_t now = m_clock.monotonicMs();
    if (m_exchange.phase == ServerPhase::issued) {
        m_exchange.phase = ServerPhase::waiting;
        m_exchange.replyDeadline = instantOfSecondsAhead(m_clock, kReplyTimeoutSeconds);
        m_exchange.replyLookMs = now;
    }
    if (m_exchange.phase != ServerPhase::waiting) return;
    // What has arrived is looked at before the time-out.  After the process was held up, a
    // reply that came meanwhile may still wait in the network layer: the event loop hands it
    // over before the next tick, which judges.
    const bool heldUp = now - std::exchange(m_exchange.replyLookMs, now) > kHeldUpMs;
    if (m_exchange.replyDeadline && now >= *m_exchange.replyDeadline && !heldUp &&
        !m_http.outcome().complete()) {
        qCWarning(lcSync) << "no reply from the attendance server in time";
        showFault(Field::urls, cp1250("Timeout při čekání na odpověď doch. serveru."));
        showFault(Field::stavprac, "Doch.server timeout!");
        showFault(Field::stavdatum, cp1250("Špatná adresa?"));
        m_exchange.phase = ServerPhase::idle;
        showFault(Field::statpc, "Err");
        deliveryFailed("Server neodpověděl do " + std::to_string(kReplyTimeoutSeconds) + " s",
                       FaultOf::connection);
        // The unit still waits for its tables: announce them again so that it asks again.
        if (m_exchange.kind == RequestKind::tables) tableDownloadFailed();
        endRequest();
        m_http.cancel();
        deleteReplyFiles();
    }
    if (m_http.outcome().complete()) {
        std::error_code ec;
        std::filesystem::rename(getTmp(), getTxt(), ec);
        m_exchange.phase = ServerPhase::replyReady;
        return;
    }
    const HttpOutcome outcome = m_http.outcome();
    if (m_exchange.phase == ServerPhase::waiting && outcome.state == HttpState::failed)
        serverUnreachable(outcome.cause);
}

void Engine::serverUnreachable(const std::string& cause) {
    // Nothing more will come: the bridge is free for the next frame at once, not after the
    // time-out.  A reply the local disk could not hold is no fault of the server's, also when
    // the room it took is free again once the file was removed.
    std::string diskFault = replyRoomFault();
    if (diskFault.empty() && m_http.outcome().localFault) diskFault = "Místní disk: " + cause;
    qCWarning(lcSync).noquote() << (diskFault.empty() ? "attendance server unreachable:"
                                                      : "the reply could not be kept:")
                                << QString::fromStdString(cause);
    // A server that was reached and broke the connection is there, at the right address.
    const bool broke = diskFault.empty() && m_http.outcome().connectionBroke;
    const std::string said =
        broke ? "Spojení se serverem přerušeno: " + cause : "Server nedostupný: " + cause;
    showFault(Field::urls, cp1250(!diskFault.empty() ? diskFault
                                  : broke            ? "Doch.server: spojení přerušeno: " + cause
                                                     : "Doch.server nedostupný: " + cause));
    showFault(Field::stavprac, cp1250(!diskFault.empty() ? "Chyba disku!"
                                      : broke            ? "Spojení přerušeno!"
                                                         : "Doch.server nedostupný!"));
    // A wrong address is what a refused connection or an unknown host most often means.
    if (diskFault.empty() && !broke) showFault(Field::stavdatum, cp1250("Špatná adresa?"));
    showFault(Field::statpc, "Err");
    deliveryFailed(diskFault.empty() ? said : diskFault,
                   diskFault.empty() ? FaultOf::connection : FaultOf::disk);
    if (m_exchange.kind == RequestKind::tables) tableDownloadFailed();
    endRequest();
    deleteReplyFiles();
}

void Engine::endRequest() {
    if (m_exchange.kind == RequestKind::event) eventSettled();
    m_exchange.phase = ServerPhase::idle;
    m_exchange.kind = RequestKind::none;
    m_exchange.replyDeadline.reset();
    m_status.requestUnderWay = false;
    publish();
}

}  // namespace kv
