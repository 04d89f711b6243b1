#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "link/CommandFrame.h"
#include "sync/BridgeStatus.h"

namespace kv {

// The texts the engine shows of its work: the last identification (or what went wrong), the
// latest request, the frame codes and the unit's statistics.  The window's field names are
// their keys.
enum class Field {
    stavprac,
    stavdatum,
    stavcip,
    urls,
    statram,
    statneterr,
    statout,
    statadr,
    statwramt,
    statsubj,
    statopr,
    statud,
    statfree,
    statfreeid,
    statlost,
    statpc,
    statrj,
};
inline constexpr std::size_t kFieldCount = std::size_t(Field::statrj) + 1;

// The field's key: the window's name for it.
std::string_view fieldName(Field field);

// A field's text (Windows-1250 bytes) and how it strikes the reader (a refused identification, a
// time-out), whatever its words are.
struct ShownText {
    Bytes text;
    Tone tone = Tone::normal;
    // The whole words where the field has a short form of them (its tooltip); empty: the text.
    Bytes whole{};
    bool operator==(const ShownText&) const = default;
};

// What the engine shows, as a value; it starts as a window that has seen nothing yet.
class Display {
public:
    Display();
    const ShownText& operator[](Field field) const { return m_fields[std::size_t(field)]; }
    const Bytes& text(Field field) const { return (*this)[field].text; }
    Tone tone(Field field) const { return (*this)[field].tone; }
    // False when the field shows exactly that already.
    bool set(Field field, std::string_view cp1250, Tone tone, std::string_view whole = {});

private:
    std::array<ShownText, kFieldCount> m_fields;
};

}  // namespace kv
