#pragma once

#include <map>

#include "sync/Fields.h"

namespace kv {

// The window's fields without a window, for the service mode: the engine reads and writes them
// as it would the widgets.  The status texts that the window would show are logged instead.
class FieldStore : public Fields {
public:
    FieldStore();
    Bytes text(Field field) const override;
    using Fields::setText;
    void setText(Field field, std::string_view cp1250, Tone tone) override;
    bool checked(Check check) const override;
    void setChecked(Check check, bool on) override;

private:
    std::map<Field, Bytes> m_texts;
    std::map<Check, bool> m_checks;
};

}  // namespace kv
