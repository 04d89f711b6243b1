#include "sync/Statistics.h"

#include <optional>
#include <string>

namespace kv {

namespace {

Bytes num(unsigned value) { return std::to_string(value); }

// The unit's memory positions are 16-bit; differences wrap as they do in the unit.
std::uint16_t minus16(unsigned a, unsigned b) { return static_cast<std::uint16_t>(a - b); }

// The two memory sizes the unit reports by code; nullopt for any other code.
std::optional<Bytes> memorySizeText(std::uint8_t code) {
    if (code == 0x00) return Bytes("64 kB");
    if (code == 0x80) return Bytes("32 kB");
    return std::nullopt;
}

}  // namespace

std::uint32_t roundHalfEven(std::uint32_t num, std::uint32_t den) {
    if (den == 0) return 0;
    const std::uint32_t quotient = num / den;
    const std::uint32_t twiceRest = 2 * (num % den);
    if (twiceRest > den || (twiceRest == den && (quotient & 1u) != 0)) return quotient + 1;
    return quotient;
}

std::vector<FieldUpdate> statisticsUpdates(const CommandFrame& frame) {
    const std::uint16_t topOfMemory = frame[2] == 0 ? 0xFFFF : 0x7FFF;
    // The four memory positions, named by the bytes that carry them.
    const std::uint16_t p6 = frame.word(6);
    const std::uint16_t p8 = frame.word(8);
    const std::uint16_t p10 = frame.word(10);
    const std::uint16_t p12 = frame.word(12);

    // Position 0 in bytes 6:7 means no terminal table at all.
    // Only the subtraction wraps: the count itself may reach 65536.
    std::uint32_t terminals = minus16(topOfMemory, p6);
    if (terminals == topOfMemory) terminals = 0;
    if (terminals > 0) terminals += 1;

    std::uint16_t free = p6 == 0 ? topOfMemory : p6;
    free = minus16(free, p10);

    return {
        {Field::statram, memorySizeText(frame[2]).value_or(num(frame[2]))},
        {Field::statneterr, num(frame[3])},
        {Field::statout, num(frame[4])},
        {Field::statadr, num(frame[5])},
        {Field::statwramt, num(roundHalfEven(terminals, 4))},
        {Field::statsubj, num(roundHalfEven(minus16(p8, 256), 13))},
        {Field::statopr, num(roundHalfEven(minus16(p12, p8), 7))},
        {Field::statud, num(roundHalfEven(minus16(p10, p12), 11))},
        {Field::statfree, num(free)},
        {Field::statfreeid, num(free / 11u)},
        {Field::statlost, num(frame[14])},
    };
}

Bytes chipText(const CommandFrame& frame) {
    Bytes text;
    for (int n = 2; n <= 7; ++n) text += dectohex(frame[n]);
    return text;
}

std::vector<FieldUpdate> chipStatisticsUpdates(const CommandFrame& frame) {
    const std::uint16_t p8 = frame.word(8);
    const std::uint16_t p10 = frame.word(10);
    const std::uint16_t p12 = frame.word(12);

    std::vector<FieldUpdate> updates;
    // An unknown memory size code leaves the field as it was.
    if (auto size = memorySizeText(frame[14])) updates.push_back({Field::statram, *size});
    updates.push_back({Field::statneterr, num(frame[15])});
    updates.push_back({Field::statlost, num(frame[16])});
    updates.push_back({Field::statud, num(roundHalfEven(minus16(p8, p10), 11))});
    updates.push_back({Field::statfreeid, num(roundHalfEven(minus16(p12, p8), 11))});
    return updates;
}

}  // namespace kv
