#pragma once

#include <QString>
#include <string>

namespace kv {

// What an open or a write of the port came to: done, or why not.  The causes up to notSerial
// are the system's answer to an open.
enum class PortCause {
    done,
    unknown,       // no reason we recognise; the system's own text goes in the detail
    missing,       // no device of that name
    busy,          // another program holds it
    noPermission,  // the user may not open it
    notSerial,     // the name exists but is no serial device
    otherDevice,   // the name of a lost port leads to other hardware now
    closed,        // nothing is written to a port that was not opened
    lost,          // the open device went away; nothing is written until it is back
    shortWrite,    // the device took only part of the bytes
};

struct PortFailure {
    PortCause cause = PortCause::unknown;
    // noPermission: the device's group when the user is not a member of it.  busy: the program
    // holding the device when it is known ("kvbridge 1.1.0 v /srv/x (proces 1234)").  unknown: the
    // system's description.  Empty otherwise.
    std::string detail;
};

// What the port's Open and WriteText return.
struct PortResult {
    PortCause cause = PortCause::done;
    std::string detail;
    PortResult() = default;
    PortResult(PortCause c, std::string d = {}) : cause(c), detail(std::move(d)) {}
    PortResult(const PortFailure& failure) : cause(failure.cause), detail(failure.detail) {}
    bool done() const { return cause == PortCause::done; }
    explicit operator bool() const { return done(); }
    bool operator==(const PortResult&) const = default;
};

// The cause in Czech: "zařízení neexistuje".
QString portCauseText(const PortResult& result);

// "COM2 (/dev/ttyS1)": the port as the window names it and the device it stands for.
QString portLabel(int port, const std::string& device);

// "COM2 (/dev/ttyS1): zařízení neexistuje": the port, its device and the cause in Czech.
QString portErrorText(int port, const std::string& device, const PortResult& result);

// The Abort/Retry prompt of a port that did not open: the cause, and for a missing device how
// another device is given to the port.
QString openFailurePrompt(int port, const std::string& device, const PortResult& result);

}  // namespace kv
