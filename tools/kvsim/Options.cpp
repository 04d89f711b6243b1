#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <type_traits>

#include "link/CommandFrame.h"

namespace kvsim {

namespace {

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<double> seconds(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0 || v > 1e7) return std::nullopt;
    return v;
}

std::optional<long> integer(const std::string& text, long min, long max) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return std::nullopt;
    return v;
}

}  // namespace

std::optional<Chip> parseChip(std::string_view hex) {
    hex = trim(hex);
    if (hex.size() != 12) return std::nullopt;
    Chip chip{};
    for (std::size_t i = 0; i < 6; ++i) {
        std::string pair(hex.substr(2 * i, 2));
        const auto b = kv::hextodec(pair);
        if (!b) return std::nullopt;
        chip[i] = *b;
    }
    return chip;
}

ParsedChips parseChipList(std::string_view text) {
    ParsedChips out;
    int lineNo = 0;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        const std::string_view raw = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        ++lineNo;
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#') continue;
        const auto chip = parseChip(line);
        if (!chip) {
            out.error = "line " + std::to_string(lineNo) +
                        ": not a 12-digit hexadecimal chip number: " + std::string(line);
            return out;
        }
        out.chips.push_back(*chip);
    }
    return out;
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
    CliOptions o;
    std::vector<Chip> fileChips, argChips;
    UnitOptions& u = o.unit;

    using Handler = std::function<std::string(const std::string&)>;  // error text or ""
    const auto secondsInto = [](double& target) {
        return Handler([&target](const std::string& v) {
            const auto s = seconds(v);
            if (!s) return std::string("expects a number of seconds");
            target = *s;
            return std::string();
        });
    };
    const auto intInto = [](auto& target, long min, long max) {
        return Handler([&target, min, max](const std::string& v) {
            const auto n = integer(v, min, max);
            if (!n)
                return "expects a whole number from " + std::to_string(min) + " to " +
                       std::to_string(max);
            target = static_cast<std::remove_reference_t<decltype(target)>>(*n);
            return std::string();
        });
    };
    const auto textInto = [](std::string& target) {
        return Handler([&target](const std::string& v) {
            if (v.empty()) return std::string("expects a file name");
            target = v;
            return std::string();
        });
    };

    const std::map<std::string, Handler> valued = {
        {"--device-file", textInto(o.deviceFile)},
        {"--tables-out", textInto(o.tablesOut)},
        {"--summary-json", textInto(o.summaryJson)},
        {"--log", textInto(o.logFile)},
        {"--chips",
         [&fileChips](const std::string& path) {
             std::ifstream in(path, std::ios::binary);
             if (!in) return "cannot read " + path;
             std::stringstream text;
             text << in.rdbuf();
             ParsedChips parsed = parseChipList(text.str());
             if (!parsed.error.empty()) return path + ": " + parsed.error;
             fileChips.insert(fileChips.end(), parsed.chips.begin(), parsed.chips.end());
             return std::string();
         }},
        {"--chip",
         [&argChips](const std::string& v) {
             const auto chip = parseChip(v);
             if (!chip) return std::string("expects 12 hexadecimal digits");
             argChips.push_back(*chip);
             return std::string();
         }},
        {"--events", intInto(u.events, -1, 100000000)},
        {"--interval", secondsInto(u.intervalS)},
        {"--card-every", intInto(u.cardEvery, 0, 1000000)},
        {"--name-request",
         [&u](const std::string& v) {
             if (v == "always")
                 u.nameRequest = NameRequest::always;
             else if (v == "never")
                 u.nameRequest = NameRequest::never;
             else if (v == "alternate")
                 u.nameRequest = NameRequest::alternate;
             else
                 return std::string("expects always, never or alternate");
             return std::string();
         }},
        {"--answer-timeout", secondsInto(u.answerTimeoutS)},
        {"--clock-report-every", secondsInto(u.clockReportEveryS)},
        {"--stats-every", secondsInto(u.statsEveryS)},
        {"--truncate-every", intInto(u.truncateEvery, 0, 1000000)},
        {"--back-to-back-every", intInto(u.backToBackEvery, 0, 1000000)},
        {"--burst-with-tables", intInto(u.burstWithTables, 0, 1000)},
        {"--linger", secondsInto(u.lingerS)},
        {"--duration",
         [&o](const std::string& v) {
             const auto s = seconds(v);
             if (!s) return std::string("expects a number of seconds");
             o.durationS = *s;
             return std::string();
         }},
        {"--type", intInto(u.eventType, 0, 255)},
        {"--place", intInto(u.place, 0, 255)},
        {"--memory",
         [&u](const std::string& v) {
             if (v == "64")
                 u.memory32k = false;
             else if (v == "32")
                 u.memory32k = true;
             else
                 return std::string("expects 64 or 32");
             return std::string();
         }},
        {"--seed", intInto(u.seed, 0, 2147483647)},
        {"--split-pause", intInto(u.splitPauseMs, 1, 2000)},
        {"--resend-after",
         [&u](const std::string& v) {
             const auto s = seconds(v);
             if (!s || *s < 0.5) return std::string("expects a number of seconds, at least 0.5");
             u.resendAfterMs = static_cast<int>(std::lround(*s * 1000));
             return std::string();
         }},
    };
    const std::map<std::string, bool*> flags = {
        {"--clock-report-at-start", &u.clockReportAtStart},
        {"--stats-at-start", &u.statsAtStart},
        {"--noise", &u.noise},
        {"--split", &u.split},
        {"--z-in-data", &u.zInData},
        {"--forever", &u.forever},
        {"--help", &o.help},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "-h") name = "--help";
        if (name == "--no-wait") {
            if (value) return {std::nullopt, "--no-wait takes no value"};
            u.waitForBridge = false;
            continue;
        }
        if (const auto f = flags.find(name); f != flags.end()) {
            if (value) return {std::nullopt, name + " takes no value"};
            *f->second = true;
            continue;
        }
        const auto h = valued.find(name);
        if (h == valued.end()) return {std::nullopt, "unknown option " + args[i]};
        if (!value) {
            if (i + 1 >= args.size()) return {std::nullopt, name + " needs a value"};
            value = args[++i];
        }
        if (const std::string error = h->second(*value); !error.empty())
            return {std::nullopt, name + " " + *value + ": " + error};
    }
    u.chips = fileChips;
    u.chips.insert(u.chips.end(), argChips.begin(), argChips.end());
    if (u.chips.empty()) u.chips = defaultChips();
    if (u.intervalS < 0.05 && u.events != 0)
        return {std::nullopt, "--interval must be at least 0.05"};
    return {o, {}};
}

std::string helpText() {
    std::string chips;
    for (std::size_t i = 0; i < defaultChips().size(); ++i) {
        chips += "                            kod " + std::to_string(i + 1) + " = ";
        for (const auto b : defaultChips()[i]) chips += kv::dectohex(b);
        chips += "\n";
    }
    return R"(kvsim: a simulated KV-CU5 control unit on a pseudo-terminal.

The first line on stdout is "KVSIM DEVICE /dev/pts/N": open that device as the bridge's serial
port.  kvsim keeps its own end of the device open, so the bridge may close and reopen it.
The session (the first event's interval, the "at start" frames) begins when the bridge sends
its first frame (its start frame), because the bridge purges the port when it starts.

Events
  --chips FILE              chip numbers, one per line (12 hex digits; blank and # lines skipped)
  --chip HEX                a chip number; repeatable; comes after those of --chips
                            Without either, the built-in list:
)" + chips +
           R"(  --events N                events in total (default 10; 0 none; -1 without end)
  --interval SECONDS        between two events (default 2); the next event also waits for the
                            answer to the previous one
  --card-every K            every K-th event is a card event, FrameCode 5 (default 0: never)
  --name-request always|never|alternate
                            byte 13 of FrameCode-2 events (default alternate: the 1st, 3rd, ...
                            FrameCode-2 event asks for the name)
  --answer-timeout SECONDS  wait for the answer (FrameCode 6) this long (default 35)
  --type N, --place N       type (typpr) and place (misto) of every event (default 1, 1)

  Event k reads chip number (k-1) mod (list size) of the list.  FrameCode 2: bytes 2:3 = k
  (mod 65536) as the event index, byte 4 (kod) = 1-based position of that chip in the list,
  5 = type, 6 = place, 7..12 = the unit's clock, 13 = name request, 14..16 = 0.
  FrameCode 5: bytes 2..7 = the chip number (so the bridge sends it reversed as karta),
  8 = kod as above, 9 = type, 10 = place, 11..16 = the unit's clock.

Other frames
  --clock-report-every SECONDS   report the clock (FrameCode 6, byte 2 = 1, 3..7 = month, day,
                            hour, minute, second) periodically (default 0: never)
  --clock-report-at-start   and once at the start of the session
  --stats-every SECONDS     unprompted statistics frame (FrameCode 3) periodically (default 0)
  --stats-at-start          and once at the start of the session
  --memory 64|32            memory size the statistics report (default 64)
  FrameCode 7 from the bridge is answered with FrameCode 1 (after a pending event's answer);
  FrameCode 8 with statistics, 9 with the last chip read (FrameCode 4); FrameCodes 1 and 11 set
  the unit's clock; FrameCode 10 (fictitious events) is counted.

Misbehaviour
  --noise                   2..8 bytes without 'Z' before every frame
  --split                   every frame in two writes: 'Z' and 7 bytes, a pause, the rest
  --split-pause MS          that pause (default 100)
  --truncate-every N        every N-th frame sent stops after 10 of its 16 bytes
  --back-to-back-every N    every N-th frame is followed at once by a statistics frame
  --burst-with-tables N     every table request is followed at once by N frames, statistics
                            and chip numbers in turn, which the bridge reads while it
                            fetches and sends the tables
  --resend-after SECONDS    an event sent truncated or back to back is sent again, whole and
                            with the same index, when no answer came within this time
                            (default 5); such a re-sent event is never damaged again
  --z-in-data               bytes the bridge does not read are 0x5A ('Z'): FrameCode 2 bytes
                            14..16, statistics 15..16, clock report 8..16
  --seed N                  for the noise bytes (default 1)

Output
  --device-file PATH        also write the device path into PATH (atomically)
  --log FILE                the frame log (default stderr): time, direction, FrameCode,
                            meaning, the bytes in hex
  --tables-out FILE         after every complete table download, the unit's tables as text,
                            one record per line in the order received (decimal numbers):
                              S1 <index> <chip 12 hex digits> <hhmm> <number> <b13> <b14>
                              S2 <b2> <b3> <h4> <m5> <h6> <m7> <b8>
                            index = bytes 2:3; chip = bytes 4..9; hhmm = bytes 10 and 11, two
                            digits each; number = byte 12; b13 b14 = the balance bytes as sent
  --summary-json FILE       the summary as one flat JSON object: events_sent, answered,
                            answered_with_name, timed_out, names, names_hex, table_downloads,
                            s1_records, s2_records (records of the last complete table),
                            s1_records_total, s2_records_total, clock_sets, last_clock_set,
                            stats_requests, chip_requests, fictitious_events and more.
                            names: blank-trimmed; bytes outside printable ASCII as \u00XX of
                            the byte value (Windows-1250 bytes read as Latin-1); names_hex: the
                            same names as hex bytes.

End
  --linger SECONDS          after the last event is answered or timed out (default 2)
  --duration SECONDS        end after this long in any case
  --forever                 do not end after the events; run until SIGINT or SIGTERM
  --no-wait                 start the session at once instead of at the bridge's first frame
  The summary goes to stdout at the end.  Exit status 0, 2 on a bad command line, 1 when no
  pseudo-terminal can be had.
)";
}

}  // namespace kvsim
