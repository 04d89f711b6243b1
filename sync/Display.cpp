#include "sync/Display.h"

namespace kv {

namespace {

struct FieldNames {
    std::string_view name;
    std::string_view initial;  // Windows-1250
};

// In the order of Field.
constexpr FieldNames kFields[] = {
    {"stavprac", "Pracovn\xEDk"},
    {"stavdatum",
     "Datum a \xE8"
     "as "},
    {"stavcip", "\xC8\xEDslo \xE8ipu"},
    {"urls", "HTTP pozadavek"},
    {"statram", "??"},
    {"statneterr", "??"},
    {"statout", "??"},
    {"statadr", "??"},
    {"statwramt", "??"},
    {"statsubj", "??"},
    {"statopr", "??"},
    {"statud", "??"},
    {"statfree", "??"},
    {"statfreeid", "??"},
    {"statlost", "??"},
    {"statpc", "??"},
    {"statrj", "??"},
};
static_assert(std::size(kFields) == kFieldCount);

}  // namespace

std::string_view fieldName(Field field) { return kFields[std::size_t(field)].name; }

Display::Display() {
    for (std::size_t i = 0; i < kFieldCount; ++i) m_fields[i].text = Bytes(kFields[i].initial);
}

bool Display::set(Field field, std::string_view cp1250, Tone tone, std::string_view whole) {
    ShownText& shown = m_fields[std::size_t(field)];
    if (shown.text == cp1250 && shown.tone == tone && shown.whole == whole) return false;
    shown.text = Bytes(cp1250);
    shown.tone = tone;
    shown.whole = Bytes(whole);
    return true;
}

}  // namespace kv
