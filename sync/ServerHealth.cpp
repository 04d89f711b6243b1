#include "sync/ServerHealth.h"

#include <algorithm>

#include "sync/Logging.h"

namespace kv {

namespace {
constexpr std::uint32_t kRefusalsToWarn = 10;
constexpr const char* kRefusalsWarning =
    "Server odmítl 10 identifikací za sebou – zkontrolujte webovou aplikaci docházky";
}  // namespace

void ServerHealth::delivered(RequestKind kind) {
    // Only an identification's verdict says that the web application records: a page to a
    // poll proves the connection, no more.
    if (kind == RequestKind::event) {
        m_view.change([&](BridgeStatus& s) {
            s.lastDelivery = m_clock.now();
            s.lastDeliveryMs = m_clock.monotonicMs();
        });
    }
    // A line fault ends with what the unit took whole, not with a reply.
    const FaultOf of = m_fault ? m_fault->of : FaultOf::connection;
    if (of == FaultOf::connection || of == FaultOf::disk ||
        (of == FaultOf::server && (kind == RequestKind::event || kind == m_fault->kind)))
        ended();
}

void ServerHealth::ended() {
    const bool server = !m_fault || m_fault->of != FaultOf::line;
    m_fault.reset();
    if (m_view.status().state == CommState::serverFailing) {
        m_view.clearFaults();
        m_view.note(server ? "Server opět odpovídá" : "Linka k RJ opět přenáší");
    }
    m_view.change([](BridgeStatus& s) {
        if (s.state == CommState::serverFailing) s.state = CommState::running;
        if (s.state == CommState::running) s.cause.clear();
        s.faultOf = FaultOf::connection;
    });
}

void ServerHealth::failed(const std::string& cause, FaultOf of, RequestKind kind) {
    // A connection that failed after the server's own fault does not make a page disprove it.
    if (!(m_fault && m_fault->of == FaultOf::server && of == FaultOf::connection))
        m_fault = Fault{cause, of, kind};
    else
        m_fault->cause = cause;
    m_view.change([&](BridgeStatus& s) {
        if (s.state != CommState::running && s.state != CommState::serverFailing) return;
        s.state = CommState::serverFailing;
        s.cause = cause;
        s.faultOf = m_fault->of;
    });
}

void ServerHealth::verdict(bool accepted) {
    const bool refused = !accepted;
    // One refusal is the server's verdict on one chip; every identification refused is a web
    // application that cannot record any (its database down), which the status must not hide.
    m_refusalsInRow = refused ? m_refusalsInRow + 1 : 0;
    const bool refusing = m_refusalsInRow >= kRefusalsToWarn;
    const auto& warnings = m_view.status().warnings;
    const bool standing =
        std::find(warnings.begin(), warnings.end(), kRefusalsWarning) != warnings.end();
    if (refusing && !standing) {
        qCWarning(lcSync) << "the attendance server has refused" << kRefusalsToWarn
                          << "identifications in a row";
        m_view.note(kRefusalsWarning, Tone::warning);
    } else if (!refused && standing) {
        qCInfo(lcSync) << "the attendance server accepts identifications again";
        m_view.note("Server opět přijímá identifikace");
    }
    m_view.change([&](BridgeStatus& s) {
        s.serverRefusing = refusing;
        if (refusing && !standing) s.warnings.push_back(kRefusalsWarning);
        if (!refused && standing)
            s.warnings.erase(std::find(s.warnings.begin(), s.warnings.end(), kRefusalsWarning));
    });
}

}  // namespace kv
