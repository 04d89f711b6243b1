#pragma once

#include <QString>
#include <string>
#include <vector>

#include "link/PortErrorText.h"

namespace kv {

// What the serial layer said when an open failed, before the system is asked for the cause.
enum class OpenError { notFound, denied, unsupported, other };

// The cause of a failed open of device, from what the system says about the device.
PortFailure classifyOpenFailure(const std::string& device, OpenError error,
                                const std::string& systemText);

// A serial device the system has, as the port picker offers it.
struct SystemSerialDevice {
    std::string device;       // /dev/ttyUSB0, COM3
    std::string stablePath;   // the name that stays with the device: /dev/serial/by-id/... when
                              // the system gives one, else the device
    std::string description;  // "FT232R USB UART, FTDI, č. A50285BI"; may be empty
};
// The serial devices present that answer, in the system's order.
std::vector<SystemSerialDevice> systemSerialDevices();

// The name under which the system keeps device whichever socket it is plugged into (the
// /dev/serial/by-id link of a USB converter); device itself when there is none.
std::string stableDeviceName(const std::string& device);

// The name the operator knows device by: COM5 where the system lists \\.\COM5 (as Device
// Manager shows it); device itself elsewhere.
std::string shownDeviceName(const std::string& device);

// The device, once lost, never comes back under its name: a pseudo-terminal opened by its own
// name, whose number goes to the next terminal made.  Never on Windows.
bool endsForGoodWhenLost(const std::string& device);

// True when both names lead to the same device.
bool sameDevice(const std::string& a, const std::string& b);

// The cause "no permission" with what the operator does about it; group is the device's group
// the user is not in, empty when not known.
QString noPermissionText(const std::string& group);

}  // namespace kv
