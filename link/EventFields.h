#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/CommandFrame.h"

namespace kv {

// The fields of the unit's two event reports, each read and written at its one byte.

// FrameCode 2: an identification at a terminal, with the unit's event index.
namespace event {
inline constexpr int kIndexByte = 2;  // and 3, high byte first
inline constexpr int kCodeByte = 4;
inline constexpr int kKindByte = 5;
inline constexpr int kPlaceByte = 6;
inline constexpr int kTimeByte = 7;  // to 12
inline constexpr int kWantsNameByte = 13;

inline std::uint16_t index(const CommandFrame& f) { return f.word(kIndexByte); }
inline std::uint8_t code(const CommandFrame& f) { return f[kCodeByte]; }    // kod
inline std::uint8_t kind(const CommandFrame& f) { return f[kKindByte]; }    // typpr
inline std::uint8_t place(const CommandFrame& f) { return f[kPlaceByte]; }  // misto
inline WallTime time(const CommandFrame& f) { return timeStampAt(f, kTimeByte); }
// 1: the answer is to carry the worker's name.
inline std::uint8_t wantsName(const CommandFrame& f) { return f[kWantsNameByte]; }

inline void setIndex(CommandFrame& f, std::uint16_t v) { f.setWord(kIndexByte, v); }
inline void setCode(CommandFrame& f, std::uint8_t v) { f[kCodeByte] = v; }
inline void setKind(CommandFrame& f, std::uint8_t v) { f[kKindByte] = v; }
inline void setPlace(CommandFrame& f, std::uint8_t v) { f[kPlaceByte] = v; }
inline void setTime(CommandFrame& f, const WallTime& t) { putTimeStamp(f, kTimeByte, t); }
inline void setWantsName(CommandFrame& f, std::uint8_t v) { f[kWantsNameByte] = v; }
}  // namespace event

// FrameCode 5: an identification with the card number instead of an event index.
namespace cardEvent {
inline constexpr int kCardByte = 2;  // to 7, as the card gives it
inline constexpr int kCodeByte = 8;
inline constexpr int kKindByte = 9;
inline constexpr int kPlaceByte = 10;
inline constexpr int kTimeByte = 11;  // to 16

using CardNumber = std::array<std::uint8_t, 6>;
inline CardNumber card(const CommandFrame& f) {
    CardNumber c{};
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = f[kCardByte + static_cast<int>(i)];
    return c;
}
// Twelve hexadecimal digits, the last byte on the line first: the order the server and the
// operator know the card by.
inline std::string cardText(const CommandFrame& f) {
    std::string text;
    for (int n = kCardByte + 5; n >= kCardByte; --n) text += dectohex(f[n]);
    return text;
}
inline std::uint8_t code(const CommandFrame& f) { return f[kCodeByte]; }
inline std::uint8_t kind(const CommandFrame& f) { return f[kKindByte]; }
inline std::uint8_t place(const CommandFrame& f) { return f[kPlaceByte]; }
inline WallTime time(const CommandFrame& f) { return timeStampAt(f, kTimeByte); }

inline void setCard(CommandFrame& f, const CardNumber& c) {
    for (std::size_t i = 0; i < c.size(); ++i) f[kCardByte + static_cast<int>(i)] = c[i];
}
inline void setCode(CommandFrame& f, std::uint8_t v) { f[kCodeByte] = v; }
inline void setKind(CommandFrame& f, std::uint8_t v) { f[kKindByte] = v; }
inline void setPlace(CommandFrame& f, std::uint8_t v) { f[kPlaceByte] = v; }
inline void setTime(CommandFrame& f, const WallTime& t) { putTimeStamp(f, kTimeByte, t); }
}  // namespace cardEvent

// FrameCode 6: the unit's clock, acted on only when byte 2 is 1.  The server gets bytes 2 to 7
// in this order, byte 2 as the year.
namespace clockReport {
inline constexpr int kActByte = 2;
inline constexpr int kMonthByte = 3;
inline constexpr int kDayByte = 4;
inline constexpr int kHourByte = 5;
inline constexpr int kMinuteByte = 6;
inline constexpr int kSecondByte = 7;

inline bool actedOn(const CommandFrame& f) { return f[kActByte] == 1; }
}  // namespace clockReport

}  // namespace kv
