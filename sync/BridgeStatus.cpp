#include "sync/BridgeStatus.h"

#include <cstdio>

namespace kv {

const StateLook& stateLook(CommState state) {
    static const StateLook kLooks[] = {
        {"Komunikace zastavena", "Zastavena", "stopped", Tone::normal},
        {"Opožděný start", "Čeká", "delayed start", Tone::warning},
        {"Komunikace spuštěna", "Spuštěna", "running", Tone::normal},
        {"Port ztracen", "Bez portu", "port lost", Tone::failure},
        {"Porucha", "Porucha", "server failing", Tone::failure},
    };
    return kLooks[static_cast<int>(state)];
}

std::uint32_t toneColour(CommState state, Tone tone) {
    // White on each of these is above 4.5:1.
    switch (tone) {
        case Tone::failure:
            return 0xa01c14;
        case Tone::warning:
            return 0x8a4b00;
        case Tone::normal:
            break;
    }
    return state == CommState::stopped ? 0x505050 : 0x1e6b30;
}

std::string statusLine(const BridgeStatus& status) {
    std::string line = stateLook(status.state).name;
    if (!status.cause.empty()) line += ": " + status.cause;
    for (const std::string& warning : status.warnings) line += "; " + warning;
    return line;
}

std::string countText(std::uint64_t count) {
    std::string text = std::to_string(count);
    for (int at = int(text.size()) - 3; at > 0; at -= 3) text.insert(std::size_t(at), " ");
    return text;
}

std::string clockText(const WallTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return text;
}

}  // namespace kv
