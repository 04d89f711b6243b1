#include "app/WidgetFields.h"

#include <QAbstractButton>
#include <QLineEdit>

#include "app/WindowLook.h"
#include "link/Cp1250.h"

namespace kv {

namespace {

QString objectName(std::string_view name) {
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

QLineEdit* lineEdit(QWidget& form, Field field) {
    auto* edit = form.findChild<QLineEdit*>(objectName(fieldName(field)));
    Q_ASSERT(edit != nullptr);
    return edit;
}

QAbstractButton* button(QWidget& form, Check check) {
    auto* b = form.findChild<QAbstractButton*>(objectName(checkName(check)));
    Q_ASSERT(b != nullptr);
    return b;
}

bool isPort(Check c) {
    return c == Check::cfgport1 || c == Check::cfgport2 || c == Check::cfgport3 ||
           c == Check::cfgport4;
}

}  // namespace

Bytes WidgetFields::text(Field field) const { return toCp1250(lineEdit(m_form, field)->text()); }

void WidgetFields::setText(Field field, std::string_view cp1250, Tone tone) {
    QLineEdit* edit = lineEdit(m_form, field);
    edit->setText(fromCp1250(cp1250));
    edit->setCursorPosition(0);  // the start of a long text (an URL) is what matters
    const FieldKind kind = fieldKind(field);
    if (kind != FieldKind::setting) applyFieldLook(*edit, fieldLook(kind, tone != Tone::normal));
}

bool WidgetFields::checked(Check check) const { return button(m_form, check)->isChecked(); }

void WidgetFields::setChecked(Check check, bool on) {
    QAbstractButton* b = button(m_form, check);
    if (on || !isPort(check)) {
        b->setChecked(on);
        return;
    }
    // An exclusive radio button cannot be cleared on its own; "no port" is a valid state.
    b->setAutoExclusive(false);
    b->setChecked(false);
    b->setAutoExclusive(true);
}

}  // namespace kv
