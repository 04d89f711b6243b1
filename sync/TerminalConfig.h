#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "link/CommandFrame.h"

namespace kv {

// The eight lines of terminal.cfg, as text (Windows-1250), exactly as stored.
struct TerminalConfig {
    Bytes port;       // "1".."4" selects that port; anything else none
    Bytes adresa;     // web application address
    Bytes httphost;   // HTTP host
    Bytes start;      // "1": start communication with the program
    Bytes idfirmy;    // company id as typed
    Bytes slowstart;  // "1": delayed start
    Bytes slowcom;    // "1": slower transfer
    Bytes cas5min;    // "1": time with every poll
    bool operator==(const TerminalConfig&) const = default;
};

// What a missing terminal.cfg is created with.
TerminalConfig defaultTerminalConfig();
// What the window's settings fields hold before terminal.cfg is read: kept, and used, when it
// exists but cannot be read.
TerminalConfig initialWindowSettings();

// Reads the file's bytes: a line ends at CR (an LF right after it belongs to the line end, an LF
// alone does not end a line); Ctrl-Z or the end of the bytes ends the file.  Lines 1 to 5 read
// as empty beyond the end; lines 6 to 8 are read only while the file has not ended and are "0"
// otherwise.  Nothing is trimmed or validated.
TerminalConfig parseTerminalConfig(std::string_view fileBytes);

// The eight lines, each ended by CR LF.
Bytes formatTerminalConfig(const TerminalConfig& config);

// "1" to "4" selects that port: 1 to 4, else 0 (none).
int configuredPort(const TerminalConfig& config);
// Only "1" turns an option on.
inline bool optionOn(const Bytes& option) { return option == "1"; }
// The longest address the window's field holds: a longer one in terminal.cfg would be cut, and
// every request sent elsewhere.
inline constexpr std::size_t kMaxAddressLength = 32767;

// Integer text as the company id and the fictitious-event count are typed: optional blanks, an
// optional sign, decimal digits, or hexadecimal digits after "$" or "0x".  nullopt for anything
// else, an empty text included, and for values outside the 32-bit signed range.
std::optional<std::int32_t> parseIntegerText(std::string_view text);

}  // namespace kv
