#pragma once

#include <QWidget>

#include "sync/Fields.h"

namespace kv {

// The engine's view of the main window: every field and button found by its object name.
class WidgetFields : public Fields {
public:
    explicit WidgetFields(QWidget& form) : m_form(form) {}
    Bytes text(Field field) const override;
    using Fields::setText;
    void setText(Field field, std::string_view cp1250, Tone tone) override;
    bool checked(Check check) const override;
    void setChecked(Check check, bool on) override;

private:
    QWidget& m_form;
};

}  // namespace kv
