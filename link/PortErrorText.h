#pragma once

#include <QString>
#include <string>

namespace kv {

// Why a serial device could not be opened, as far as the system tells.
enum class PortCause {
    unknown,       // no reason we recognise; the system's own text goes in the detail
    missing,       // no device of that name
    busy,          // another program holds it
    noPermission,  // the user may not open it
    notSerial,     // the name exists but is no serial device
};

struct PortFailure {
    PortCause cause = PortCause::unknown;
    // noPermission: the device's group when the user is not a member of it.  busy: the program
    // holding the device when it is known ("kvbridge v /srv/x (proces 1234)").  unknown: the
    // system's description.  Empty otherwise.
    std::string detail;
};

// "COM2 (/dev/ttyS1)": the port as the window names it and the device it stands for.
QString portLabel(int port, const std::string& device);

// "COM2 (/dev/ttyS1): zařízení neexistuje": the port, its device and the cause in Czech.
QString portErrorText(int port, const std::string& device, const PortFailure& failure);

// The Abort/Retry prompt of a port that did not open: the cause, and for a missing device how
// another device is given to the port.
QString openFailurePrompt(int port, const std::string& device, const PortFailure& failure);

}  // namespace kv
