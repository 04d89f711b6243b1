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

const char* stateLogName(const BridgeStatus& status) {
    if (status.state == CommState::serverFailing) {
        if (status.faultOf == FaultOf::line) return "line failing";
        if (status.faultOf == FaultOf::disk) return "disk failing";
    }
    return stateLook(status.state).logName;
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

std::string StatusWords::line() const {
    std::string text = state;
    if (!cause.empty()) text += ": " + cause;
    for (const std::string& note : notes) text += "; " + note;
    return text;
}

std::vector<std::string> StatusWords::lines() const {
    std::vector<std::string> all{cause.empty() ? state : state + ": " + cause};
    all.insert(all.end(), notes.begin(), notes.end());
    return all;
}

namespace {
// The time at, ageMs ago, was on an earlier day than now.
bool earlierDay(const WallTime& at, std::int64_t ageMs) {
    const std::int64_t sinceMidnightMs =
        ((at.hour * 60 + at.minute) * 60 + at.second) * 1000LL + at.millisecond;
    return sinceMidnightMs + ageMs >= 86'400'000;
}
}  // namespace

StatusWords statusWords(const BridgeStatus& status, std::int64_t nowMs) {
    StatusWords words;
    // A port that was not there at Start was never lost.
    words.state = status.state == CommState::portLost && status.portAwaited
                      ? "Čekám na port"
                      : stateLook(status.state).name;
    // A cause that starts with the state's own words would only say them twice.
    words.cause = status.cause;
    if (words.cause == words.state)
        words.cause.clear();
    else if (words.cause.rfind(words.state + ": ", 0) == 0)
        words.cause.erase(0, words.state.size() + 2);
    words.notes = status.warnings;
    if (status.unitSilent) words.notes.insert(words.notes.begin(), unitSilenceText(status));
    // Only what really happened: before the first identification there is no such line.
    if (!status.lastIdentification.empty())
        words.notes.push_back("Poslední identifikace: " + lastIdentificationText(status, nowMs));
    if (status.replayed > 0)
        words.notes.push_back("Odpovědi zopakované bez nového požadavku: " +
                              countText(status.replayed));
    if (status.lastDelivery) {
        const WallTime& at = *status.lastDelivery;
        std::string note = "Poslední úspěšné předání: ";
        if (status.lastDeliveryMs && nowMs >= *status.lastDeliveryMs) {
            const std::int64_t ageMs = nowMs - *status.lastDeliveryMs;
            // After a weekend the time alone would read as today's.
            if (earlierDay(at, ageMs)) note += dateText(at) + " ";
            note += clockText(at) + " (" + ageText(ageMs) + ")";
        } else {
            note += clockText(at);
        }
        words.notes.push_back(note);
    }
    return words;
}

std::string statusLine(const BridgeStatus& status) {
    StatusWords words = statusWords(status, 0);
    words.notes = status.warnings;
    if (status.unitSilent) words.notes.insert(words.notes.begin(), unitSilenceText(status));
    return words.line();
}

std::string lastIdentificationText(const BridgeStatus& status, std::int64_t nowMs) {
    // After a weekend the time alone would read as today's.
    if (status.lastIdentificationAt && status.lastIdentificationMs &&
        nowMs >= *status.lastIdentificationMs &&
        earlierDay(*status.lastIdentificationAt, nowMs - *status.lastIdentificationMs))
        return dateText(*status.lastIdentificationAt) + " " + status.lastIdentification;
    return status.lastIdentification;
}

std::string unitSilenceText(const BridgeStatus& status) {
    if (!status.unitSilent) return {};
    return status.unitSpokeBefore ? kUnitNotAnsweringText : kUnitSilentText;
}

std::string countText(std::uint64_t count) {
    std::string text = std::to_string(count);
    for (int at = int(text.size()) - 3; at > 0; at -= 3) text.insert(std::size_t(at), " ");
    return text;
}

std::string ageText(std::int64_t ms) {
    const std::int64_t minutes = ms / 60'000;
    if (minutes < 90) return "před " + std::to_string(minutes) + " min";
    if (minutes < 24 * 60)
        return "před " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
               " min";
    const std::int64_t days = minutes / (24 * 60);
    return "před " + std::to_string(days) + (days == 1 ? " dnem" : " dny");
}

std::string dateText(const WallTime& t) {
    return std::to_string(t.day) + "." + std::to_string(t.month) + "." + std::to_string(t.year);
}

std::string clockText(const WallTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return text;
}

}  // namespace kv
