#include "app/FailureNotices.h"

#include <QRegularExpression>
#include <algorithm>
#include <utility>

#include "app/Logging.h"
#include "sync/Bridge.h"

namespace kv {

namespace {

bool failing(const BridgeStatus& status) {
    switch (status.state) {
        case CommState::portLost:
        case CommState::serverFailing:
            return true;
        case CommState::running:
            return status.tableFailures > 0 || status.serverRefusing || status.unitSilent;
        case CommState::stopped:
        case CommState::delayedStart:
            break;
    }
    return false;
}

// What the operator can look at for each kind of failure.
const char* advice(const BridgeStatus& status) {
    if (status.state == CommState::portLost)
        return "Zkontrolujte kabel a převodník k RJ; port se použije, jakmile bude zpět.";
    if (status.state == CommState::serverFailing) {
        switch (status.faultOf) {
            case FaultOf::connection:
                break;
            case FaultOf::server:
                // It answered: the network and the address are not what fails.
                return "Zkontrolujte webovou aplikaci docházky a její chybový log.";
            case FaultOf::line:
                return "Zkontrolujte kabel a převodník k RJ; tabulky se stáhnou znovu samy.";
            case FaultOf::disk:
                return "Uvolněte místo na disku, nebo zkontrolujte práva k pracovnímu adresáři.";
        }
        return "Zkontrolujte připojení k síti, webovou aplikaci a její adresu v okně.";
    }
    if (status.unitSilent) return "Zkontrolujte, zda je RJ zapnutá, a kabel a převodník k ní.";
    if (status.serverRefusing)
        return "Server odmítá všechny identifikace – zkontrolujte webovou aplikaci docházky a "
               "její databázi.";
    return "Zkontrolujte webovou aplikaci a linku k RJ; tabulky se stáhnou znovu samy.";
}

// Which failure it is: a running bridge fails in more than one way.
int failureKind(const BridgeStatus& status) {
    if (status.state != CommState::running) return int(status.state);
    return 100 + (status.tableFailures > 0 ? 1 : 0) + (status.serverRefusing ? 2 : 0) +
           (status.unitSilent ? 4 : 0);
}

// "3 výpadky serveru za posledních 30 min".
std::string flappingSummary(int outages, CommState kind, FaultOf of, std::int64_t ms) {
    const char* what = kind == CommState::portLost        ? "portu"
                       : kind != CommState::serverFailing ? "komunikace"
                       : of == FaultOf::line              ? "linky k RJ"
                       : of == FaultOf::disk              ? "disku"
                                                          : "serveru";
    const char* word = outages == 1 ? " výpadek " : outages < 5 ? " výpadky " : " výpadků ";
    return std::to_string(outages) + word + what + " za posledních " +
           std::to_string((ms + 59'999) / 60'000) + " min";
}

}  // namespace

std::optional<Notice> FailureWatch::observe(const BridgeStatus& status, std::int64_t nowMs) {
    // A port told lost that is back is told as that, and only that: whatever else fails goes
    // on failing, and is not told again for it.
    const auto portBack = [&status] {
        return Notice{"Kordavo – port je zpět", "Port " + status.port + " je zpět", Tone::normal};
    };
    if (!failing(status)) {
        const bool told = m_toldMs.has_value() && !m_toldSilently;
        const bool wasPort = m_kind == CommState::portLost;
        m_sinceMs.reset();
        m_toldMs.reset();
        m_toldSilently = false;
        if (status.state == CommState::stopped) m_outages = 0;
        if (m_outages > 0 && nowMs >= *m_lastFailureNoticeMs + kFlappingMs) {
            // The flapping is over: once, how often it failed.
            const std::string summary = flappingSummary(m_outages + 1, m_lastFailureKind,
                                                        m_lastFaultOf, nowMs - *m_firstOfOutagesMs);
            m_outages = 0;
            return Notice{"Kordavo – komunikace opět běží", summary, Tone::normal};
        }
        if (!told || status.state == CommState::stopped) return std::nullopt;
        if (wasPort && m_toldKind == CommState::portLost) return portBack();
        // Named after what failed: the unit or the server answers again, or the line carries.
        if (m_toldKind == CommState::running && m_toldUnit)
            return Notice{"Kordavo – RJ opět odpovídá", "RJ opět odpovídá", Tone::normal};
        if (m_toldKind == CommState::serverFailing && m_toldFaultOf == FaultOf::line)
            return Notice{"Kordavo – linka k RJ opět přenáší",
                          "Tabulky se do RJ opět přenesly celé", Tone::normal};
        if (m_toldKind == CommState::serverFailing && m_toldFaultOf != FaultOf::disk)
            return Notice{"Kordavo – server opět odpovídá",
                          "Server opět odpovídá, identifikace se předávají", Tone::normal};
        return Notice{"Kordavo – komunikace opět běží", statusWords(status, nowMs).lines().front(),
                      Tone::normal};
    }
    if (!m_sinceMs) m_sinceMs = nowMs;
    if (!m_toldMs || status.state != m_kind) {
        const bool back = m_toldMs && m_kind == CommState::portLost && m_toldKind == m_kind;
        m_kind = status.state;
        m_kindSinceMs = nowMs;
        if (back) {
            m_toldKind = m_kind;
            return portBack();
        }
    }
    if (nowMs < *nextDueMs()) return std::nullopt;
    m_toldMs = nowMs;
    m_toldKind = m_kind;
    m_toldFaultOf = status.faultOf;
    m_toldUnit = status.state == CommState::running && status.unitSilent;
    // A failure that comes and goes is told once in 10 minutes (unless its kind changes); the
    // outages meanwhile are counted, and told in one summary when the flapping is over.
    if (m_lastFailureNoticeMs && nowMs - *m_lastFailureNoticeMs < kFlappingMs &&
        failureKind(status) == m_lastFailureKey) {
        if (m_outages++ == 0) m_firstOfOutagesMs = *m_lastFailureNoticeMs;
        m_toldSilently = true;
        return std::nullopt;
    }
    m_toldSilently = false;
    m_heldNoticeMs = m_lastFailureNoticeMs;
    m_lastFailureNoticeMs = nowMs;
    m_lastFailureKind = m_kind;
    m_lastFaultOf = status.faultOf;
    m_lastFailureKey = failureKind(status);
    // A cause that says itself what to check ("– zkontrolujte adresu") needs no second advice.
    // A silent unit is told by its own warning: the state would only say that all runs.
    const std::string told =
        m_toldUnit ? unitSilenceText(status) : statusWords(status, nowMs).lines().front();
    const bool advised = told.find("zkontrolujte") != std::string::npos;
    return Notice{"Kordavo – porucha komunikace", advised ? told : told + "\n" + advice(status),
                  Tone::failure};
}

void FailureWatch::holdBack() {
    m_toldSilently = true;
    m_lastFailureNoticeMs = m_heldNoticeMs;
}

std::optional<std::int64_t> FailureWatch::nextDueMs() const {
    if (!m_sinceMs)
        return m_outages > 0 ? std::optional(*m_lastFailureNoticeMs + kFlappingMs) : std::nullopt;
    if (!m_toldMs) return *m_sinceMs + kFirstAfterMs;
    if (m_kind != m_toldKind) return m_kindSinceMs + kFirstAfterMs;
    return *m_toldMs + kAgainAfterMs;
}

FailureNotices::FailureNotices(Bridge& bridge, Show show, QObject* parent)
    : QObject(parent), m_bridge(bridge), m_show(std::move(show)) {
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, &FailureNotices::check);
    connect(&bridge, &Bridge::statusChanged, this, &FailureNotices::check);
    check();
}

void FailureNotices::check() {
    const std::int64_t now = m_bridge.clock().monotonicMs();
    if (m_unconfirmed) {
        // The server was asked again: only a failure that is still there once the question
        // has its answer is told.
        if (m_bridge.status().state != CommState::serverFailing) {
            m_unconfirmed.reset();
            m_watch.holdBack();
        } else if (!m_bridge.status().requestUnderWay) {
            tell(*std::exchange(m_unconfirmed, std::nullopt));
        }
    }
    if (auto notice = m_watch.observe(m_bridge.status(), now)) {
        if (notice->tone == Tone::failure && m_bridge.status().state == CommState::serverFailing &&
            m_bridge.pollServer())
            m_unconfirmed = std::move(notice);
        else
            tell(*notice);
    }
    if (const auto due = m_watch.nextDueMs())
        m_due.start(int(std::clamp<std::int64_t>(*due - now, 0, kv::FailureWatch::kAgainAfterMs)));
    else
        m_due.stop();
}

void FailureNotices::tell(const Notice& notice) {
    // One line for the log, its sentences kept apart; one that ends with its own mark keeps it.
    QString line = QString::fromStdString(notice.title + ": " + notice.text);
    line.replace(QRegularExpression(QStringLiteral("([.?!])\n")), QStringLiteral("\\1 "));
    qCWarning(lcApp).noquote() << line.replace(QLatin1Char('\n'), QLatin1String(". "));
    if (m_show) m_show(notice);
}

}  // namespace kv
