#include "FrameText.h"

#include <cstdio>

#include "link/EventFields.h"

namespace kvsim {

namespace {

std::string format(const char* fmt, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

std::string stamp(const kv::WallTime& t) {
    return format("%02u:%02u:%02u %02u.%02u.%04u", t.hour, t.minute, t.second, t.day, t.month,
                  t.year);
}
std::string stamp(const kv::CommandFrame& f, int first) { return stamp(kv::timeStampAt(f, first)); }

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
        case kv::ToUnit::setClock:
            return "set clock to " + stamp(f, 2);
        case kv::ToUnit::tablesBegin:
            return "table download begins " + stamp(f, 2);
        case kv::ToUnit::section1Record:
            return format(
                "section-1 record: index %u chip %s time %02u%02u number %u balance %u %u",
                f.word(2), chipHex(f, 4).c_str(), f[10], f[11], f[12], f[13], f[14]);
        case kv::ToUnit::section2Record:
            return format("section-2 record: %u %u %u:%02u %u:%02u %u", f[2], f[3], f[4], f[5],
                          f[6], f[7], f[8]);
        case kv::ToUnit::tablesEnd:
            return "table download ends " + stamp(f, 2);
        case kv::ToUnit::answer:
            if (f[2] == 0) return "answer: OK, no name";
            return "answer: OK, name \"" + printable(f) + "\"";
        case kv::ToUnit::tablesChanged:
            return "tables changed " + stamp(f, 2);
        case kv::ToUnit::statisticsRequest:
            return "statistics request " + stamp(f, 2);
        case kv::ToUnit::chipNumberRequest:
            return "chip number request " + stamp(f, 2);
        case kv::ToUnit::fictitiousEvent:
            return format("fictitious event #%u ", f.word(2)) + stamp(f, 7);
        case kv::ToUnit::startOfCommunication:
            return "start of communication, clock " + stamp(f, 2);
        default:
            return format("unknown FrameCode %u", f.code());
    }
}

std::string describeFromUnit(const kv::CommandFrame& f) {
    switch (f.fromUnitCode()) {
        case kv::FromUnit::tableRequest:
            return "table request";
        case kv::FromUnit::event:
            return format("event #%u kod %u type %u place %u ", kv::event::index(f),
                          kv::event::code(f), kv::event::kind(f), kv::event::place(f)) +
                   stamp(kv::event::time(f)) + format(" name-request %u", kv::event::wantsName(f));
        case kv::FromUnit::statistics:
            return format(
                "statistics: memory %s, errors %u, transmissions %u, last terminal %u, "
                "positions %u %u %u %u, lost %u",
                f[2] == 0      ? "64 kB"
                : f[2] == 0x80 ? "32 kB"
                               : "?",
                f[3], f[4], f[5], f.word(6), f.word(8), f.word(10), f.word(12), f[14]);
        case kv::FromUnit::chipNumber:
            return "chip number " + chipHex(f, 2) +
                   format(", positions %u %u %u", f.word(8), f.word(10), f.word(12));
        case kv::FromUnit::cardEvent:
            return "card event card " + chipHex(f, kv::cardEvent::kCardByte) +
                   format(" kod %u type %u place %u ", kv::cardEvent::code(f),
                          kv::cardEvent::kind(f), kv::cardEvent::place(f)) +
                   stamp(kv::cardEvent::time(f));
        case kv::FromUnit::clockReport:
            return format("clock report %02u.%02u. %02u:%02u:%02u", f[4], f[3], f[5], f[6], f[7]);
        default:
            return format("FrameCode %u", f.code());
    }
}

}  // namespace kvsim
