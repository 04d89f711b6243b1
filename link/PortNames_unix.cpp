#include <string>

#include "link/SerialDevice.h"

namespace kv {

// COM1 is the first 16550-style port of the PC.
std::string defaultPortDevice(int port) { return "/dev/ttyS" + std::to_string(port - 1); }

}  // namespace kv
