#pragma once

#include <optional>
#include <string>

#include "link/Clock.h"
#include "sync/PublishedView.h"
#include "sync/ServerExchange.h"

namespace kv {

// Whether deliveries get through, judged by what disproves a failure: a failure of the
// connection ends with any whole reply (a poll's page too), an error status or a reply without
// a verdict only with a verdict (or a whole reply to the same kind of request), a line that did
// not take a frame only with what the unit took whole.  The failure stands in the status as
// serverFailing, naming whose it is, until then.
class ServerHealth {
public:
    ServerHealth(Clock& clock, PublishedView& view) : m_clock(clock), m_view(view) {}

    // The failure that stands until what disproves it, and the request that met it.
    struct Fault {
        std::string cause;
        FaultOf of = FaultOf::connection;
        RequestKind kind = RequestKind::none;
    };
    const std::optional<Fault>& fault() const { return m_fault; }
    // A poll may ask again only after a failure a page disproves (of the connection).
    bool pollDisproves() const { return !m_fault || m_fault->of == FaultOf::connection; }
    // Start judges the server afresh, by its next delivery.
    void forget() { m_fault.reset(); }

    // A whole 2xx reply to a request of this kind (for an event: a verdict).  It ends a failure
    // that such a reply disproves; only a verdict counts as a delivery.
    void delivered(RequestKind kind);
    // A request of this kind failed: the failure tone with its cause, naming the part at fault.
    void failed(const std::string& cause, FaultOf of, RequestKind kind);
    // The server's verdict on an identification: refusals in a row raise a warning that stands
    // until one is accepted.
    void verdict(bool accepted);
    // What the line failed to carry got through after all.
    void lineCarries() {
        if (m_fault && m_fault->of == FaultOf::line) ended();
    }

private:
    // The failure stands no more: the state is running again.
    void ended();

    Clock& m_clock;
    PublishedView& m_view;
    std::optional<Fault> m_fault;
    std::uint32_t m_refusalsInRow = 0;
};

}  // namespace kv
