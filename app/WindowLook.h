#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

#include "sync/BridgeStatus.h"
#include "sync/Display.h"

class QLineEdit;
class QWidget;

namespace kv {

// What a text field of the main window is for, which decides how it looks.
enum class FieldKind {
    setting,    // the operator types it (address, host, company id, event count)
    status,     // the communication state: last identification or what went wrong
    statistic,  // the unit's figures
    request,    // the latest request URL
};
FieldKind fieldKind(Field field);

// How a field is shown: editable or read-only with dark text, and red when it holds an alert.
struct FieldLook {
    bool readOnly = false;
    QColor text;
    QColor base;
};
FieldLook fieldLook(FieldKind kind, bool alert);
void applyFieldLook(QLineEdit& edit, const FieldLook& look);

// Once, after the form is set up: status and statistics fields read-only with dark text, the
// state radios shown in full colour but left to the program, check boxes toggled by their
// captions, Enter on a focused button presses it, and Tab in the order of the visible layout.
void setUpWindowLook(QWidget& form);

// Tab and the Alt shortcuts reach only what the window shows: a control outside the client area
// (the window at its normal size shows only the configuration and the state) leaves the focus
// chain and loses its shortcut, so that no key presses a button nobody sees; it comes back when
// the window grows to show it.  Runs after every change of the window's size.
void fitKeyboardToView(QWidget& form);

// The running/stopped indicator: the state radio that says whether communication is on, its
// caption (or the short name of a state that is neither) in the colour of its state and tone, with
// the state, its cause and the standing warnings as its tooltip.
void showBridgeStatus(QWidget& form, const BridgeStatus& status, std::int64_t nowMs);
// The status's words a line each, with the working directory (two bridges on one desktop differ
// by it): the indicator's tooltip, and the tray's below the program's name.
QString statusToolTip(const BridgeStatus& status, std::int64_t nowMs);

}  // namespace kv
