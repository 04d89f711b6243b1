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

QLineEdit* lineEdit(QWidget& form, std::string_view name) {
    auto* edit = form.findChild<QLineEdit*>(objectName(name));
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

void setEditText(QLineEdit& edit, std::string_view cp1250) {
    edit.setText(fromCp1250(cp1250));
    edit.setCursorPosition(0);  // the start of a long text (an URL) is what matters
}

}  // namespace

std::string_view settingName(Setting setting) {
    switch (setting) {
        case Setting::cfgadresa:
            return "cfgadresa";
        case Setting::cfghttphost:
            return "cfghttphost";
        case Setting::idfirmy:
            return "idfirmy";
    }
    return {};
}

std::string_view checkName(Check check) {
    static constexpr std::string_view kNames[] = {
        "cfgport1", "cfgport2", "cfgport3", "cfgport4",  "slowstart",
        "slowcom",  "cas5min",  "cfgstart", "stavstoji", "stavjede",
    };
    return kNames[int(check)];
}

Check portCheck(int port) {
    static constexpr Check kPorts[] = {Check::cfgport1, Check::cfgport2, Check::cfgport3,
                                       Check::cfgport4};
    return kPorts[port - 1];
}

void WidgetFields::show(Field field, const ShownText& shown) {
    QLineEdit* edit = lineEdit(m_form, fieldName(field));
    setEditText(*edit, shown.text);
    // A long worker's name whole, and the whole words of a short form.
    edit->setToolTip(shown.whole.empty() ? edit->text() : fromCp1250(shown.whole));
    applyFieldLook(*edit, fieldLook(fieldKind(field), shown.tone != Tone::normal));
}

void WidgetFields::showStarts() {
    // A window shown again may have scrolled or selected a field's text; a name reads from its
    // start.
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        QLineEdit* edit = lineEdit(m_form, fieldName(Field(i)));
        edit->deselect();
        edit->setCursorPosition(0);
    }
}

void WidgetFields::showAll(const Display& display) {
    for (std::size_t i = 0; i < kFieldCount; ++i) show(Field(i), display[Field(i)]);
}

void WidgetFields::showSettings(const TerminalConfig& c) {
    for (int port = 1; port <= 4; ++port) setChecked(portCheck(port), false);
    if (const int port = configuredPort(c); port != 0) setChecked(portCheck(port), true);
    setText(Setting::cfgadresa, c.adresa);
    setText(Setting::cfghttphost, c.httphost);
    setChecked(Check::cfgstart, optionOn(c.start));
    setText(Setting::idfirmy, c.idfirmy);
    setChecked(Check::slowstart, optionOn(c.slowstart));
    setChecked(Check::slowcom, optionOn(c.slowcom));
    setChecked(Check::cas5min, optionOn(c.cas5min));
}

TerminalConfig WidgetFields::settings() const {
    TerminalConfig c;
    for (int port = 1; port <= 4; ++port)
        if (checked(portCheck(port))) c.port = Bytes(1, char('0' + port));
    const auto flag = [this](Check check) { return Bytes(checked(check) ? "1" : "0"); };
    c.adresa = text(Setting::cfgadresa);
    c.httphost = text(Setting::cfghttphost);
    c.start = flag(Check::cfgstart);
    c.idfirmy = text(Setting::idfirmy);
    c.slowstart = flag(Check::slowstart);
    c.slowcom = flag(Check::slowcom);
    c.cas5min = flag(Check::cas5min);
    return c;
}

Bytes WidgetFields::text(Field field) const {
    return toCp1250(lineEdit(m_form, fieldName(field))->text());
}

Bytes WidgetFields::text(Setting setting) const {
    return toCp1250(lineEdit(m_form, settingName(setting))->text());
}

void WidgetFields::setText(Setting setting, std::string_view cp1250) {
    setEditText(*lineEdit(m_form, settingName(setting)), cp1250);
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
