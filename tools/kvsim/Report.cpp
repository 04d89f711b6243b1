#include "Report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "FrameText.h"

namespace kvsim {

namespace {

std::string jsonString(const std::string& bytes) {
    std::string out = "\"";
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += ch;
        } else if (b >= 0x20 && b < 0x7F) {
            out += ch;
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04X", b);
            out += esc;
        }
    }
    return out + "\"";
}

std::string hexWord(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) out += kv::dectohex(static_cast<std::uint8_t>(c));
    return out;
}

}  // namespace

std::string tableText(const Table& table) {
    std::string out;
    char line[128];
    for (const auto& f : table.section1) {
        std::snprintf(line, sizeof line, "S1 %u %s %02u%02u %u %u %u\n", f.word(2),
                      chipHex(f, 4).c_str(), f[10], f[11], f[12], f[13], f[14]);
        out += line;
    }
    for (const auto& f : table.section2) {
        std::snprintf(line, sizeof line, "S2 %u %u %u %u %u %u %u\n", f[2], f[3], f[4], f[5], f[6],
                      f[7], f[8]);
        out += line;
    }
    return out;
}

std::string summaryText(const Summary& s) {
    std::string out;
    const auto line = [&out](const char* what, auto value) {
        out += "  ";
        out += what;
        out += ": " + std::to_string(value) + "\n";
    };
    out += "kvsim summary\n";
    line("events sent", s.eventsSent);
    line("answered", s.answered);
    line("  with name", s.answeredWithName);
    line("  without name", s.answered - s.answeredWithName);
    line("timed out", s.timedOut);
    line("still awaiting an answer", s.pendingAtEnd);
    line("events sent again after damage", s.eventsResent);
    line("answers nobody waited for", s.unexpectedAnswers);
    line("tables-changed frames", s.tablesChanged);
    line("table requests", s.tableRequests);
    line("table downloads", s.tableDownloads);
    line("incomplete downloads", s.incompleteDownloads);
    line("section-1 records held", s.s1Records);
    line("section-2 records held", s.s2Records);
    line("clock sets", s.clockSets);
    line("clock reports", s.clockReports);
    line("statistics requests", s.statsRequests);
    line("statistics frames sent", s.statsSent);
    line("chip number requests", s.chipRequests);
    line("fictitious events", s.fictitiousEvents);
    line("frames sent", s.framesSent);
    line("frames damaged on purpose", s.damagedFrames);
    line("frames received", s.framesReceived);
    line("unknown frames", s.unknownFrames);
    line("purges by the bridge", s.bridgePurges);
    line("bytes skipped", s.garbageBytes);
    if (s.lastClockSet) out += "  last clock set: " + formatCivil(*s.lastClockSet) + "\n";
    for (const auto& name : s.names) out += "  name: " + name + "\n";
    return out;
}

std::string summaryJson(const Summary& s) {
    std::string out = "{";
    bool first = true;
    const auto key = [&](const char* k) {
        out += first ? "\n  \"" : ",\n  \"";
        first = false;
        out += k;
        out += "\": ";
    };
    const auto number = [&](const char* k, auto v) {
        key(k);
        out += std::to_string(v);
    };
    number("events_sent", s.eventsSent);
    number("answered", s.answered);
    number("answered_with_name", s.answeredWithName);
    number("timed_out", s.timedOut);
    key("names");
    out += "[";
    for (std::size_t i = 0; i < s.names.size(); ++i)
        out += (i ? ", " : "") + jsonString(s.names[i]);
    out += "]";
    key("names_hex");
    out += "[";
    for (std::size_t i = 0; i < s.names.size(); ++i)
        out += (i ? ", \"" : "\"") + hexWord(s.names[i]) + "\"";
    out += "]";
    number("table_downloads", s.tableDownloads);
    number("s1_records", s.s1Records);
    number("s2_records", s.s2Records);
    number("s1_records_total", s.s1RecordsTotal);
    number("s2_records_total", s.s2RecordsTotal);
    number("incomplete_downloads", s.incompleteDownloads);
    number("tables_changed", s.tablesChanged);
    number("table_requests", s.tableRequests);
    number("clock_sets", s.clockSets);
    key("last_clock_set");
    if (s.lastClockSet) {
        char text[32];
        const kv::WallTime& t = *s.lastClockSet;
        std::snprintf(text, sizeof text, "\"%04d-%02d-%02dT%02d:%02d:%02d\"", t.year, t.month,
                      t.day, t.hour, t.minute, t.second);
        out += text;
    } else {
        out += "null";
    }
    number("clock_reports", s.clockReports);
    number("stats_requests", s.statsRequests);
    number("stats_sent", s.statsSent);
    number("chip_requests", s.chipRequests);
    number("fictitious_events", s.fictitiousEvents);
    number("events_resent", s.eventsResent);
    number("unexpected_answers", s.unexpectedAnswers);
    number("pending_at_end", s.pendingAtEnd);
    number("frames_sent", s.framesSent);
    number("frames_damaged", s.damagedFrames);
    number("frames_received", s.framesReceived);
    number("unknown_frames", s.unknownFrames);
    number("bridge_purges", s.bridgePurges);
    number("garbage_bytes", s.garbageBytes);
    return out + "\n}\n";
}

std::string writeFileAtomically(const std::string& path, const std::string& content) {
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return temp + ": " + std::strerror(errno);
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string error = temp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return error;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string error = path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return error;
    }
    return {};
}

}  // namespace kvsim
