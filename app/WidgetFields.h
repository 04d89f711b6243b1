#pragma once

#include <QWidget>
#include <string_view>

#include "sync/Display.h"
#include "sync/TerminalConfig.h"

namespace kv {

// The window's settings fields, check boxes and radio buttons, by their names.
enum class Setting { cfgadresa, cfghttphost, idfirmy };
enum class Check {
    cfgport1,
    cfgport2,
    cfgport3,
    cfgport4,
    slowstart,
    slowcom,
    cas5min,
    cfgstart,
    stavstoji,
    stavjede,
};
std::string_view settingName(Setting setting);
std::string_view checkName(Check check);
// The radio button of port 1 to 4.
Check portCheck(int port);

// The main window's fields, found by their object names: the engine's display is rendered into
// them, and the settings go both ways (terminal.cfg into the window, the operator's changes to
// the bridge).  Texts are Windows-1250 bytes.
class WidgetFields {
public:
    explicit WidgetFields(QWidget& form) : m_form(form) {}

    // A field of the engine's display, its text and the look of its tone.
    void show(Field field, const ShownText& shown);
    void showAll(const Display& display);
    // Every display field scrolled back to the start of its text.
    void showStarts();

    // terminal.cfg's lines into the settings they belong to; "1" to "4" selects a port, only
    // "1" ticks an option.
    void showSettings(const TerminalConfig& settings);
    // The settings as the window shows them, for the bridge and for Uložit.
    TerminalConfig settings() const;

    Bytes text(Field field) const;
    Bytes text(Setting setting) const;
    void setText(Setting setting, std::string_view cp1250);
    bool checked(Check check) const;
    // Selecting a port clears the others; "no port" is a state of its own.
    void setChecked(Check check, bool on);

private:
    QWidget& m_form;
};

}  // namespace kv
