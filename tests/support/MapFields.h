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
    void setText(Field field, std::string_view cp1250) override;
    bool checked(Check check) const override;
    void setChecked(Check check, bool on) override;

    // Every text ever written to a field, in order (for countdowns and the like).
    const std::vector<Bytes>& history(Field field) const;

private:
    std::map<Field, Bytes> m_texts;
    std::map<Field, std::vector<Bytes>> m_history;
    std::map<Check, bool> m_checks;
};

}  // namespace kv::test
