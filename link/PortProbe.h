#pragma once

#include <string>
#include <vector>

#include "link/PortErrorText.h"

namespace kv {

// What the serial layer said when an open failed, before the system is asked for the cause.
enum class OpenError { notFound, denied, unsupported, other };

// The cause of a failed open of device, from what the system says about the device.
PortFailure classifyOpenFailure(const std::string& device, OpenError error,
                                const std::string& systemText);

// A USB serial converter the system names by its make and serial number, so that it keeps its
// name whichever socket it is plugged into.
struct SerialConverter {
    std::string name;    // "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
    std::string path;    // the stable path to map a port to
    std::string device;  // what it stands for now, e.g. /dev/ttyUSB0
};
std::vector<SerialConverter> serialConverters();

// True when both names lead to the same device.
bool sameDevice(const std::string& a, const std::string& b);

}  // namespace kv
