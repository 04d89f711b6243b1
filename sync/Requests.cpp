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

// Whose identification an event request carries, for the operator's history.
std::string identificationOf(const CommandFrame& f) {
    if (f.fromUnitCode() != FromUnit::cardEvent) return "kód " + std::to_string(event::code(f));
    return "čip " + cardEvent::cardText(f);
}
}  // namespace

RequestSettings Engine::requestSettings() const {
    return RequestSettings{m_settings.adresa, m_settings.httphost, m_companyId};
}

bool Engine::issueRequest(const Bytes& url, RequestKind kind) {
    m_view.show(Field::urls, url);
    bool diskFault = false;
    if (const std::string why = m_exchange.issue(url, kind, diskFault); !why.empty()) {
        qCWarning(lcSync) << "request not sent:" << QString::fromStdString(why);
        m_view.showFault(Field::urls, cp1250("Požadavek nelze odeslat (" + why + "): ") + url);
        m_view.showFault(Field::stavprac, cp1250("Požadavek neodeslán!"));
        m_carried.identification = kind == RequestKind::event ? identificationOf(m_frame) : "";
        deliveryFailed(diskFault ? why : "Požadavek nelze odeslat (" + why + ")",
                       diskFault ? FaultOf::disk : FaultOf::connection, kind);
        return false;
    }
    qCInfo(lcSync).noquote() << "request" << requestKindName(kind)
                             << QByteArray::fromStdString(url);
    m_carried.event = m_frame;
    m_carried.later.reset();
    m_carried.identification = kind == RequestKind::event ? identificationOf(m_frame) : "";
    if (kind == RequestKind::event) m_copies.forwarded(m_frame);
    m_view.change([&](BridgeStatus& s) {
        s.requestUnderWay = true;
        if (kind == RequestKind::event) ++s.eventRequests;
    });
    return true;
}

void Engine::awaitReply() {
    switch (m_exchange.look()) {
        case ServerExchange::Look::nothing:
        case ServerExchange::Look::ready:
            return;
        case ServerExchange::Look::failed:
            return serverUnreachable(m_http.outcome().cause);
        case ServerExchange::Look::timedOut:
            break;
    }
    qCWarning(lcSync) << "no reply from the attendance server in time";
    m_view.showFault(Field::urls, cp1250("Timeout při čekání na odpověď doch. serveru."));
    m_view.showFault(Field::stavprac, "Doch.server timeout!");
    m_view.showFault(Field::stavdatum, cp1250("Špatná adresa?"));
    m_view.showFault(Field::statpc, "Err");
    deliveryFailed(
        "Server neodpověděl do " + std::to_string(ServerExchange::kReplyTimeoutSeconds) + " s",
        FaultOf::connection);
    // The unit still waits for its tables: announce them again so that it asks again.
    if (m_exchange.kind() == RequestKind::tables) m_tables.downloadFailed();
    endRequest();
    m_exchange.cancel();
    m_exchange.deleteReplyFiles();
}

void Engine::serverUnreachable(const std::string& cause) {
    // Nothing more will come: the bridge is free for the next frame at once, not after the
    // time-out.  A reply the local disk could not hold is no fault of the server's, also when
    // the room it took is free again once the file was removed.
    std::string diskFault = m_exchange.replyRoomFault();
    if (diskFault.empty() && m_http.outcome().localFault) diskFault = "Místní disk: " + cause;
    qCWarning(lcSync).noquote() << (diskFault.empty() ? "attendance server unreachable:"
                                                      : "the reply could not be kept:")
                                << QString::fromStdString(cause);
    // A server that was reached and broke the connection is there, at the right address.
    const bool broke = diskFault.empty() && m_http.outcome().connectionBroke;
    const std::string said =
        broke ? "Spojení se serverem přerušeno: " + cause : "Server nedostupný: " + cause;
    m_view.showFault(Field::urls, cp1250(!diskFault.empty() ? diskFault
                                         : broke ? "Doch.server: spojení přerušeno: " + cause
                                                 : "Doch.server nedostupný: " + cause));
    m_view.showFault(Field::stavprac, cp1250(!diskFault.empty() ? "Chyba disku!"
                                             : broke            ? "Spojení přerušeno!"
                                                                : "Doch.server nedostupný!"));
    // A wrong address is what a refused connection or an unknown host most often means.
    if (diskFault.empty() && !broke) m_view.showFault(Field::stavdatum, cp1250("Špatná adresa?"));
    m_view.showFault(Field::statpc, "Err");
    deliveryFailed(diskFault.empty() ? said : diskFault,
                   diskFault.empty() ? FaultOf::connection : FaultOf::disk);
    if (m_exchange.kind() == RequestKind::tables) m_tables.downloadFailed();
    endRequest();
    m_exchange.deleteReplyFiles();
}

void Engine::endRequest() {
    if (m_exchange.kind() == RequestKind::event) m_copies.settled();
    m_exchange.end();
    m_view.change([](BridgeStatus& s) { s.requestUnderWay = false; });
}

}  // namespace kv
