#pragma once

#include <cstdint>
#include <vector>

#include "link/CommandFrame.h"
#include "sync/Display.h"

namespace kv {

struct FieldUpdate {
    Field field;
    Bytes text;
    bool operator==(const FieldUpdate&) const = default;
};

// num / den rounded to the nearest integer, an exact half to the even neighbour.
std::uint32_t roundHalfEven(std::uint32_t num, std::uint32_t den);

// The unit's statistics report (FrameCode 3) as the fields show it, in the order they are
// written: statram, statneterr, statout, statadr, statwramt, statsubj, statopr, statud,
// statfree, statfreeid, statlost.  Memory arithmetic wraps at 16 bits.
std::vector<FieldUpdate> statisticsUpdates(const CommandFrame& frame);

// The chip number of a FrameCode-4 report: bytes 2 to 7 as 12 hexadecimal digits, byte 2 first.
Bytes chipText(const CommandFrame& frame);
// The statistics that come with a chip number, in order: statram (only for the two known memory
// size codes), statneterr, statlost, statud, statfreeid.
std::vector<FieldUpdate> chipStatisticsUpdates(const CommandFrame& frame);

}  // namespace kv
