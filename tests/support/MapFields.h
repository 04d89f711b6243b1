#pragma once

#include <map>
#include <vector>

#include "sync/Fields.h"

namespace kv::test {

// The window's fields as a plain map, with the window's initial texts.
class MapFields : public Fields {
public:
    MapFields();
    Bytes text(Field field) const override;
    using Fields::setText;
    void setText(Field field, std::string_view cp1250, Tone tone) override;
    bool checked(Check check) const override;
    void setChecked(Check check, bool on) override;

    // Every text ever written to a field, in order (for countdowns and the like).
    const std::vector<Bytes>& history(Field field) const;
    // The tone the text last written to a field came with.
    Tone tone(Field field) const { return m_tones.count(field) ? m_tones.at(field) : Tone::normal; }

private:
    std::map<Field, Bytes> m_texts;
    std::map<Field, std::vector<Bytes>> m_history;
    std::map<Check, bool> m_checks;
    std::map<Field, Tone> m_tones;
};

}  // namespace kv::test
