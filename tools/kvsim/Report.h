#pragma once

#include <string>

#include "Unit.h"

namespace kvsim {

// The unit's tables as text, one record per line in the order received:
//   S1 <index> <chip, 12 hex digits> <hhmm> <number> <b13> <b14>
//   S2 <b2> <b3> <h4> <m5> <h6> <m7> <b8>
// all numbers decimal; hhmm is bytes 10 and 11 with two digits each.
std::string tableText(const Table& table);

// Readable summary, several lines.
std::string summaryText(const Summary& s);
// One flat JSON object.  Names: every byte outside printable ASCII is written as \u00XX with the
// byte's value (so Windows-1250 bytes read as Latin-1); names_hex holds the same bytes as hex.
std::string summaryJson(const Summary& s);

// Writes a temporary file beside `path` and renames it over `path`, so a reader sees either
// the old or the whole new content.  Empty string on success, else what went wrong.
std::string writeFileAtomically(const std::string& path, const std::string& content);

}  // namespace kvsim
