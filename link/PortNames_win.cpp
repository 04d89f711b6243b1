#include <string>

#include "link/SerialDevice.h"

namespace kv {

std::string defaultPortDevice(int port) { return "COM" + std::to_string(port); }

}  // namespace kv
