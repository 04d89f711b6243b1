// What the attendance server answered, sent on to the unit; the tables-changed signalling.

#include "link/Cp1250.h"
#include "sync/Engine.h"
#include "sync/EventLog.h"
#include "sync/Logging.h"
#include "sync/ReplyFiles.h"
#include "sync/TableRecords.h"

namespace kv {

namespace {
constexpr std::uint64_t kEmptyReplySize = 30;   // replies this short carry nothing
constexpr std::uint8_t kTableSyncRepeat = 255;  // 254 ticks between tables-changed frames
}  // namespace

void Engine::processReply() {
    if (m_state.serverPhase != ServerPhase::ReplyReady) return;
    // The reply is processed exactly once, whatever happens while reading it.
    struct CleanUp {
        Engine& e;
        ~CleanUp() {
            e.m_state.slowFrameCounter = 0;
            e.deleteReplyFiles();
            e.m_state.serverPhase = ServerPhase::Idle;
            e.m_state.requestKind = RequestKind::None;
            e.purgeInput();
        }
    } cleanUp{*this};
    switch (m_state.requestKind) {
        case RequestKind::Tables:
            downloadTables();
            break;
        case RequestKind::Event:
            answerEvent();
            break;
        case RequestKind::Recalculation:
            m_fields.setText(Field::statpc, "99");
            break;
        case RequestKind::Poll:
            readPollReply();
            break;
        case RequestKind::ClockReport:
            sendWithTime(ToUnit::SetClock);
            break;
        case RequestKind::None:
            break;
    }
}

void Engine::downloadTables() {
    TableDownloadLog record(m_clock, m_paths.workDir);
    sendWithTime(ToUnit::TablesBegin);
    if (prevedfile(getTxt(), getTmp()) <= kEmptyReplySize) return;
    ReplyLineReader reply(getTmp());
    ToUnit section = ToUnit::Section1Record;
    m_state.slowFrameCounter = 1;
    std::uint64_t sent = 0;
    std::uint64_t skipped = 0;
    std::string line;
    while (reply.next(line)) {
        if (line.compare(0, 7, "-------") == 0) {
            section = ToUnit::Section2Record;
            continue;
        }
        CommandFrame& f = m_state.frame;
        f.setCode(section);
        if (section == ToUnit::Section2Record && line.size() <= 5) continue;
        const bool ok = section == ToUnit::Section1Record ? parseSection1Record(line, f)
                                                          : parseSection2Record(line, f);
        if (!ok) {
            ++skipped;  // a record that cannot be converted is left out
            continue;
        }
        zobraz();
        if (++sent % 64 == 0) waitHook();
    }
    sendWithTime(ToUnit::TablesEnd);
    m_state.tableSyncCountdown = 0;
    m_state.slowFrameCounter = 0;
    record.finished(sent, skipped);
}

void Engine::answerEvent() {
    CommandFrame& f = m_state.frame;
    f.setCode(ToUnit::Answer);
    f[2] = 0;
    if (prevedfile(getTxt(), getTmp()) <= kEmptyReplySize) return;
    bool ok = false;
    {
        ReplyLineReader reply(getTmp());
        std::string line;
        std::string text;
        while (reply.next(line)) {
            const std::string_view marker = std::string_view(line).substr(0, 8);
            if (marker == "---OK---") ok = true;
            if (marker == "---OK---" || marker == "---Err--") {
                if (!reply.next(text)) text.clear();
                m_fields.setText(Field::stavprac, text);
            }
        }
    }
    if (ok && m_state.nameRequested == 1) pridejmeno(f, m_fields.text(Field::stavprac));
    if (ok) zobraz();
}

void Engine::readPollReply() {
    if (prevedfile(getTxt(), getTmp()) <= kEmptyReplySize) return;
    ReplyLineReader reply(getTmp());
    std::string line;
    while (reply.next(line)) {
        if (line == "tabsync") {
            reply.next(line);  // the line after it carries nothing for the bridge
            m_state.tableSyncCountdown = 1;
        }
    }
}

void Engine::triggerFileCheck() {
    if (m_state.triggerFileError) return;
    static constexpr struct {
        const char* file;
        const char* shown;
    } kTriggers[] = {{"zamestnanci", "Soubor c:zamestnanci"}, {"kategorie", "Soubor c:kategorie"}};
    for (const auto& trigger : kTriggers) {
        const std::filesystem::path path = m_paths.driveC / trigger.file;
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) continue;
        std::filesystem::remove(path, ec);
        m_state.tableSyncCountdown = 1;
        logTriggerFile(path, std::filesystem::exists(path, ec));
        if (std::filesystem::exists(path, ec)) {
            m_fields.setText(Field::stavprac, cp1250("Chyba práv souboru!"));
            m_fields.setText(Field::stavdatum, trigger.shown);
            m_fields.setText(Field::stavcip, "nejde smazat!!!!");
            m_state.triggerFileError = true;
        }
    }
}

void Engine::tableSyncStep() {
    if (m_state.tableSyncCountdown == 1) {
        sendWithTime(ToUnit::TablesChanged);
        m_state.tableSyncCountdown = kTableSyncRepeat;
    }
    if (m_state.tableSyncCountdown > 1) --m_state.tableSyncCountdown;
}

}  // namespace kv
