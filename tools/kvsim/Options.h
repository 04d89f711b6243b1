#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Unit.h"

namespace kvsim {

struct CliOptions {
    UnitOptions unit;
    std::string deviceFile;
    std::string tablesOut;
    std::string summaryJson;
    std::string logFile;
    std::optional<double> durationS;
    bool help = false;
};

struct ParsedCommandLine {
    std::optional<CliOptions> options;  // set on success
    std::string error;                  // set on failure
};

// The arguments after the program name.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);
std::string helpText();

// Twelve hexadecimal digits, either case.
std::optional<Chip> parseChip(std::string_view hex);
// One chip per line; blank lines and lines starting with '#' are skipped.  On a bad line the
// error names its number.
struct ParsedChips {
    std::vector<Chip> chips;
    std::string error;
};
ParsedChips parseChipList(std::string_view text);

}  // namespace kvsim
