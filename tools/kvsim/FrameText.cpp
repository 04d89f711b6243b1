#include "FrameText.h"

#include <cstdio>

namespace kvsim {

namespace {

std::string format(const char* fmt, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

// Hour, minute, second, day, month, year-2000 from byte `first` on.
std::string stamp(const kv::CommandFrame& f, int first) {
    return format("%02u:%02u:%02u %02u.%02u.%04u", f[first], f[first + 1], f[first + 2],
                  f[first + 3], f[first + 4], 2000u + f[first + 5]);
}

// Bytes 2 to 16 as text: printable characters as they are, others as \xNN.
std::string printable(const kv::CommandFrame& f) {
    std::string out;
    for (int n = 2; n <= 16; ++n) {
        const std::uint8_t b = f[n];
        if (b >= 0x20 && b != 0x7F && b != '"' && b != '\\')
            out += static_cast<char>(b);
        else
            out += format("\\x%02X", b);
    }
    return out;
}

}  // namespace

std::string chipHex(const kv::CommandFrame& f, int first) {
    std::string out;
    for (int n = first; n < first + 6; ++n) out += kv::dectohex(f[n]);
    return out;
}

std::string trimmedName(const kv::CommandFrame& f) {
    std::string name;
    for (int n = 2; n <= 16; ++n) name += static_cast<char>(f[n]);
    const auto first = name.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

std::string describeFromBridge(const kv::CommandFrame& f) {
    switch (f.toUnitCode()) {
        case kv::ToUnit::SetClock:
            return "set clock to " + stamp(f, 2);
        case kv::ToUnit::TablesBegin:
            return "table download begins " + stamp(f, 2);
        case kv::ToUnit::Section1Record:
            return format(
                "section-1 record: index %u chip %s time %02u%02u number %u balance %u %u",
                f.word(2), chipHex(f, 4).c_str(), f[10], f[11], f[12], f[13], f[14]);
        case kv::ToUnit::Section2Record:
            return format("section-2 record: %u %u %u:%02u %u:%02u %u", f[2], f[3], f[4], f[5],
                          f[6], f[7], f[8]);
        case kv::ToUnit::TablesEnd:
            return "table download ends " + stamp(f, 2);
        case kv::ToUnit::Answer:
            if (f[2] == 0) return "answer: OK, no name";
            return "answer: OK, name \"" + printable(f) + "\"";
        case kv::ToUnit::TablesChanged:
            return "tables changed " + stamp(f, 2);
        case kv::ToUnit::StatisticsRequest:
            return "statistics request " + stamp(f, 2);
        case kv::ToUnit::ChipNumberRequest:
            return "chip number request " + stamp(f, 2);
        case kv::ToUnit::FictitiousEvent:
            return format("fictitious event #%u ", f.word(2)) + stamp(f, 7);
        case kv::ToUnit::StartOfCommunication:
            return "start of communication, clock " + stamp(f, 2);
        default:
            return format("unknown FrameCode %u", f.code());
    }
}

std::string describeFromUnit(const kv::CommandFrame& f) {
    switch (f.fromUnitCode()) {
        case kv::FromUnit::TableRequest:
            return "table request";
        case kv::FromUnit::Event:
            return format("event #%u kod %u type %u place %u ", f.word(2), f[4], f[5], f[6]) +
                   stamp(f, 7) + format(" name-request %u", f[13]);
        case kv::FromUnit::Statistics:
            return format(
                "statistics: memory %s, errors %u, transmissions %u, last terminal %u, "
                "positions %u %u %u %u, lost %u",
                f[2] == 0      ? "64 kB"
                : f[2] == 0x80 ? "32 kB"
                               : "?",
                f[3], f[4], f[5], f.word(6), f.word(8), f.word(10), f.word(12), f[14]);
        case kv::FromUnit::ChipNumber:
            return "chip number " + chipHex(f, 2) +
                   format(", positions %u %u %u", f.word(8), f.word(10), f.word(12));
        case kv::FromUnit::CardEvent:
            return "card event card " + chipHex(f, 2) +
                   format(" kod %u type %u place %u ", f[8], f[9], f[10]) + stamp(f, 11);
        case kv::FromUnit::ClockReport:
            return format("clock report %02u.%02u. %02u:%02u:%02u", f[4], f[3], f[5], f[6], f[7]);
        default:
            return format("FrameCode %u", f.code());
    }
}

}  // namespace kvsim
