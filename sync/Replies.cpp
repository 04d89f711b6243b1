// What the attendance server answered, sent on to the unit; the tables-changed signalling.

#include <algorithm>
#include <fstream>

#include "link/Cp1250.h"
#include "sync/Engine.h"
#include "sync/EventLog.h"
#include "sync/Logging.h"
#include "sync/ReplyFiles.h"
#include "sync/TableDownload.h"

namespace kv {

namespace {
constexpr std::uint64_t kEmptyReplySize = 30;  // replies this short carry nothing
// "404 Not Found": the status with the words administrators know it by.
std::string httpStatusText(int status) {
    static const struct {
        int status;
        const char* words;
    } kWords[] = {{400, "Bad Request"},
                  {401, "Unauthorized"},
                  {403, "Forbidden"},
                  {404, "Not Found"},
                  {405, "Method Not Allowed"},
                  {408, "Request Timeout"},
                  {500, "Internal Server Error"},
                  {502, "Bad Gateway"},
                  {503, "Service Unavailable"},
                  {504, "Gateway Timeout"}};
    std::string text = std::to_string(status);
    for (const auto& w : kWords)
        if (w.status == status) text += std::string(" ") + w.words;
    return text;
}
// The first bytes of a reply for the log, each byte that is not printable ASCII as \xNN.
std::string replyStart(const std::filesystem::path& file, std::size_t shown = 80) {
    char bytes[200];
    shown = std::min(shown, sizeof bytes);
    std::ifstream in(file, std::ios::binary);
    in.read(bytes, shown);
    std::string text = "\"";
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            text += char(c);
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            text += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return text + (in.gcount() == std::streamsize(shown) ? "\"…" : "\"");
}
// The server answered, with an error: a wrong address, or the web application failing.
std::string errorStatusCause(int status) {
    return "Server vrátil chybu " + httpStatusText(status) +
           (status >= 500 ? " – chyba webové aplikace?" : " – zkontrolujte adresu");
}
}  // namespace

void Engine::processReply() {
    // A table download under way still reads the reply: it is done with at the download's end.
    if (m_exchange.phase() != ServerPhase::replyReady || m_line.running()) return;
    // The reply is processed exactly once, whatever happens while reading it; a table download
    // that began is done with it at its own end.
    try {
        readReply();
    } catch (...) {
        if (!m_line.running()) replyDone();
        throw;
    }
    if (!m_line.running()) replyDone();
}

void Engine::readReply() {
    const HttpOutcome outcome = m_http.outcome();
    // An event is delivered only once its reply says what became of it (answerEvent), the
    // tables once they can go to the unit; a page where the poll's lines belong (a login page,
    // a proxy's) is no sign that the web application answers.
    const RequestKind kind = m_exchange.kind();
    if (outcome.succeeded() && kind != RequestKind::event && kind != RequestKind::tables &&
        !(kind == RequestKind::poll && htmlPage(m_exchange.getTxt())))
        m_health.delivered(kind);
    else if (!outcome.succeeded()) {
        // What the server said with its error is what its administrator looks for.
        qCWarning(lcSync).noquote()
            << "reply with status" << outcome.status
            << "begins:" << QString::fromStdString(replyStart(m_exchange.getTxt(), 200));
        deliveryFailed(errorStatusCause(outcome.status), FaultOf::server);
    }
    switch (m_exchange.kind()) {
        case RequestKind::tables:
            downloadTables();
            break;
        case RequestKind::event:
            answerEvent();
            break;
        case RequestKind::recalculation:
            if (serverAnswered()) {
                m_view.show(Field::statpc, "99");
                m_view.note("Přepočet docházky na serveru proveden");
            } else {
                m_view.showFault(Field::statpc, "Err");
                m_view.note("Přepočet docházky se nezdařil: " + errorStatusCause(outcome.status),
                            Tone::failure);
            }
            break;
        case RequestKind::poll:
            if (m_http.outcome().succeeded()) readPollReply();
            break;
        case RequestKind::clockReport:
            sendWithTime(ToUnit::setClock);
            break;
        case RequestKind::none:
            break;
    }
}

void Engine::replyDone() {
    if (m_exchange.phase() != ServerPhase::replyReady) return;
    m_line.endBurst();
    m_exchange.deleteReplyFiles();
    endRequest();
    m_reception.purgeAfterReply();
}

bool Engine::serverAnswered() {
    const HttpOutcome outcome = m_http.outcome();
    if (outcome.succeeded()) return true;
    qCWarning(lcSync) << "the attendance server answered with status" << outcome.status;
    m_view.showFault(Field::stavprac,
                     cp1250("Doch.server: chyba " + std::to_string(outcome.status)));
    return false;
}

void Engine::tablesNotSent(const std::string& why, const std::string& logged, bool lineFault) {
    qCWarning(lcSync).noquote() << "tables not sent to the unit:" << QString::fromStdString(logged);
    m_view.showFault(Field::urls, cp1250("Tabulky nepřeneseny: " + why));
    m_view.note("Tabulky nepřeneseny: " + why, Tone::failure);
    // A refused reply is a failed delivery already; a whole reply that is no table is one too.
    // A line that stops taking frames is no fault of the server's: the cause names the line.
    if (lineFault)
        m_health.failed("Tabulky nepřeneseny: " + why, FaultOf::line, m_exchange.kind());
    else if (m_http.outcome().succeeded())
        deliveryFailed("Tabulky nepřeneseny: " + why, FaultOf::server);
    m_tables.downloadFailed();
}

void Engine::downloadTables() {
    try {
        sendTables();
    } catch (...) {
        // A reply that cannot be read or converted is a failed download too (the download's
        // own end has said so when it had begun).
        if (m_exchange.phase() == ServerPhase::replyReady) m_tables.downloadFailed();
        throw;
    }
}

void Engine::sendTables() {
    // The opening frame makes the unit drop the tables it holds: only a table reply may start
    // a download.
    const HttpOutcome outcome = m_http.outcome();
    if (!outcome.succeeded()) {
        tablesNotSent("server odpověděl chybou " + std::to_string(outcome.status) + ".",
                      "the server answered with an error status");
        return;
    }
    // A reply this short carries no table: "-------" alone is what a web application without
    // workers prints, and would empty the unit's tables.
    const std::uint64_t size = prevedfile(m_exchange.getTxt(), m_exchange.getTmp());
    if (size <= kEmptyReplySize) return tablesWithoutWorkers(std::to_string(size) + " bytes");
    const TableShape shape = tableShape(m_exchange.getTmp());
    if (!shape.isTable()) {
        tablesNotSent("odpověď serveru není tabulka (" + std::to_string(size) + " B).",
                      "the reply is no table (" + std::to_string(size) + " bytes)");
        return;
    }
    if (const std::string fault = shape.fault(); !fault.empty()) {
        tablesNotSent(
            "tabulka má chybný tvar: " + fault + ".",
            "the table is malformed: " + std::to_string(shape.unreadable) + " unreadable records");
        return;
    }
    if (shape.workers == 0) return tablesWithoutWorkers("no first-section record");
    m_health.delivered(RequestKind::tables);
    m_view.note("Stahování tabulek do RJ (" + countText(shape.records) + " záznamů)");
    startJob(std::make_unique<TableDownload>(m_clock, m_paths.workDir, m_exchange.getTmp(),
                                             shape.records, m_frame),
             [this](UnitJob& job, UnitJob::End how) {
                 // The reply is done with at the end, also when telling of it fails.
                 try {
                     tablesJobEnded(static_cast<const TableDownload&>(job), how);
                 } catch (...) {
                     replyDone();
                     throw;
                 }
                 replyDone();
             });
}

void Engine::tablesJobEnded(const TableDownload& download, UnitJob::End how) {
    switch (how) {
        case UnitJob::End::whole:
            break;
        case UnitJob::End::lineFault:
            // The closing frame tells the unit its tables are complete: it goes out only when
            // every frame before it went out whole.
            return tablesNotSent("linka k RJ nepřijala rámec, přenos přerušen po " +
                                     std::to_string(download.done()) + " záznamech.",
                                 "the line did not take a frame; download broken off after " +
                                     std::to_string(download.done()) + " records",
                                 true);
        case UnitJob::End::lineStood: {
            // The unit dropped the download while the line stood: what it holds is not the
            // tables, and the mark stays for a program start before the next download.
            const std::int64_t tenths = (m_line.stoodMs() + 50) / 100;
            const std::string stood =
                std::to_string(tenths / 10) + "," + std::to_string(tenths % 10);
            qCWarning(lcSync).nospace()
                << "tables not sent whole to the unit: the line stood still " << m_line.stoodMs()
                << " ms after " << download.done() << " records";
            m_tables.announce();
            m_view.note("Stahování tabulek přerušeno – linka k RJ stála " + stood + " s (" +
                            countText(download.done()) + " z " + countText(download.total()) +
                            ") – tabulky se nabídnou znovu",
                        Tone::warning);
            return;
        }
        case UnitJob::End::cutShort:
            // Stop or the end: tables.unfinished stays for the next program start, and a start
            // of communication before that announces them again too.
            m_tables.announce();
            m_view.note("Stahování tabulek přerušeno (" + countText(download.done()) + " z " +
                            countText(download.total()) + ") – zopakuje se po Startu",
                        Tone::warning);
            return;
        case UnitJob::End::unreadable:
            // A reply that cannot be read or converted is a failed download too.
            return m_tables.downloadFailed();
    }
    m_view.change([](BridgeStatus& s) { ++s.tableDownloads; });
    // Records left out are workers or categories the unit no longer knows: the operator is
    // told, in the history and as a warning that stands until the next download.  The
    // identification fields keep the last worker's name.
    std::string sent = "Tabulky odeslány do RJ (" + countText(download.done()) + " záznamů";
    if (const std::uint64_t skipped = download.skipped(); skipped > 0)
        sent += ", " + countText(skipped) +
                (skipped == 1  ? " vynechán"
                 : skipped < 5 ? " vynechány"
                               : " vynecháno");
    sent += ")";
    m_health.lineCarries();
    m_view.note(sent, download.skipped() > 0 ? Tone::warning : Tone::normal);
    replaceSkippedWarning(download.skipped() > 0 ? sent : std::string());
    m_tables.settled();
}

void Engine::tablesWithoutWorkers(const std::string& logged) {
    // A company without workers yet, or a web application that failed between its queries:
    // either way the unit keeps the tables it has, and asking again would get the same.  The
    // next tables-changed signal or the operator's command tries again.
    static constexpr const char* kKept =
        "server neposlal žádného pracovníka – tabulky v RJ ponechány";
    qCWarning(lcSync).noquote() << "tables not sent to the unit, the reply has no worker ("
                                << QString::fromStdString(logged) << ")";
    m_health.delivered(RequestKind::tables);
    m_view.show(Field::urls, cp1250(std::string("Tabulky nepřeneseny: ") + kKept), Tone::warning);
    m_view.note(std::string("Tabulky nepřeneseny: ") + kKept, Tone::warning);
    m_tables.settled();
    replaceSkippedWarning(std::string("Tabulky nepřeneseny: ") + kKept);
}

void Engine::replaceSkippedWarning(const std::string& warning) {
    if (!warning.empty()) qCWarning(lcSync).noquote() << QString::fromStdString(warning);
    m_view.change([&](BridgeStatus& s) {
        auto& warnings = s.warnings;
        warnings.erase(std::remove(warnings.begin(), warnings.end(), m_skippedWarning),
                       warnings.end());
        if (!warning.empty()) warnings.push_back(warning);
    });
    m_skippedWarning = warning;
}

void Engine::answerEvent() {
    CommandFrame& f = m_frame;
    f.setCode(ToUnit::answer);
    f[2] = 0;
    // An error page is no answer: the unit gets none.
    if (!serverAnswered()) return;
    if (const std::uint64_t size = prevedfile(m_exchange.getTxt(), m_exchange.getTmp());
        size <= kEmptyReplySize)
        return replyWithoutVerdict(size);
    bool ok = false;
    bool verdict = false;
    bool lastOk = false;  // the tone follows the marker whose text is shown
    std::string text;
    {
        ReplyLineReader reply(m_exchange.getTmp());
        std::string line;
        while (reply.next(line)) {
            const std::string_view marker = std::string_view(line).substr(0, 8);
            // "---OK---" anywhere answers the unit; whichever marker comes last gives the
            // text it is answered with.
            if (marker == "---OK---" || marker == "---Err--") {
                if (marker == "---OK---") ok = true;
                lastOk = marker == "---OK---";
                verdict = true;
                if (!reply.next(text)) text.clear();
            }
        }
    }
    if (!verdict) return replyWithoutVerdict(std::nullopt);
    // A port lost while the server answered keeps its words in the field: the name would say
    // that all is well.
    const bool portGone = m_view.status().state == CommState::portLost;
    if (!portGone) m_view.show(Field::stavprac, text, lastOk ? Tone::normal : Tone::failure);
    m_view.change([](BridgeStatus& s) { ++s.forwarded; });
    m_health.delivered(RequestKind::event);
    const std::string shown = fromCp1250(text).toStdString();
    if (ok) {
        m_view.change([&](BridgeStatus& s) {
            s.lastIdentificationAt = m_clock.now();
            s.lastIdentificationMs = m_clock.monotonicMs();
            s.lastIdentification = clockText(*s.lastIdentificationAt) + " " + shown;
        });
        if (portGone)
            noteIdentification(shown + " – předáno, odpověď do RJ neodeslána: port ztracen",
                               Tone::warning);
        else
            m_view.note(shown + " – předáno");
    } else {
        noteIdentification(m_carried.identification + " – odmítnuto: " + shown, Tone::warning);
    }
    m_health.verdict(ok);
    if (ok && m_nameRequested == 1) pridejmeno(f, text);
    const bool overdue = ok && answerOverdue();
    // The verdict stands for the unit's later copies of this identification, unless another
    // has come meanwhile.
    m_copies.keepVerdict(overdue || m_carried.later
                             ? std::nullopt
                             : std::optional(UnitCopies::Verdict{m_carried.event, f, text, ok,
                                                                 m_clock.monotonicMs()}));
    if (ok && !overdue && !portGone && zobraz()) m_copies.answerOnItsWay(m_carried.event);
}

void Engine::replyWithoutVerdict(std::optional<std::uint64_t> shortSize) {
    // Nothing for the unit, which repeats the event; but a web application that answers every
    // event so (a PHP error page served with 200) leaves every terminal unanswered, and must
    // not pass for one that delivers.
    qCWarning(lcSync).noquote() << (shortSize ? "the event reply is too short to hold a verdict:"
                                              : "the event reply says neither \"---OK---\" nor "
                                                "\"---Err--\":")
                                << QString::fromStdString(replyStart(m_exchange.getTxt()));
    // The narrow field has the short words, its tooltip the whole.
    m_view.showFault(
        Field::stavprac, cp1250(shortSize ? "Krátká odpověď!" : "Bez výsledku!"),
        cp1250(shortSize ? "Doch.server: krátká odpověď" : "Doch.server: bez výsledku"));
    deliveryFailed(shortSize ? "Odpověď serveru je příliš krátká (" + std::to_string(*shortSize) +
                                   " B), výsledek se nečte"
                             : "Server odpověděl bez výsledku – chyba webové aplikace?",
                   FaultOf::server);
}

void Engine::readPollReply() {
    if (prevedfile(m_exchange.getTxt(), m_exchange.getTmp()) <= kEmptyReplySize) return;
    ReplyLineReader reply(m_exchange.getTmp());
    std::string line;
    while (reply.next(line)) {
        if (line == "tabsync") {
            reply.next(line);  // the line after it carries nothing for the bridge
            m_tables.announce();
        }
    }
}

void Engine::triggerFileCheck() {
    static constexpr struct {
        const char* file;
        const char* shown;
    } kTriggers[] = {{"zamestnanci", "Soubor c:zamestnanci"}, {"kategorie", "Soubor c:kategorie"}};
    for (std::size_t i = 0; i < std::size(kTriggers); ++i) {
        const auto& trigger = kTriggers[i];
        // A file that cannot be deleted would announce the tables in every tick: it is no
        // longer watched, the other one still is.
        if (m_tables.triggerFileFailed(i)) continue;
        const std::filesystem::path path = m_paths.driveC / trigger.file;
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) continue;
        std::filesystem::remove(path, ec);
        m_tables.changed();
        if (!std::filesystem::exists(path, ec)) {
            logTriggerFile(path);
            continue;
        }
        m_view.show(Field::stavprac, cp1250("Chyba práv souboru!"), Tone::failure);
        m_view.show(Field::stavdatum, trigger.shown, Tone::failure);
        m_view.show(Field::stavcip, "nejde smazat!!!!", Tone::failure);
        m_tables.setTriggerFileFailed(i);
        // The next worker's name takes the fields over; the warning stands elsewhere.
        m_view.addStandingWarning(std::string("Chyba práv souboru! ") + trigger.shown +
                                  " nejde smazat!!!! (" + path.string() + ")");
    }
}

}  // namespace kv
