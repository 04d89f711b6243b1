#include "sync/ServerHealth.h"

namespace kv {

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

}  // namespace kv
