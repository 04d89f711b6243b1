#include <cstdlib>
#include <string>

#include "link/SerialDevice.h"

namespace kv {

std::string portDeviceName(int port) {
    const std::string variable = "KVBRIDGE_COM" + std::to_string(port);
    if (const char* mapped = std::getenv(variable.c_str()); mapped && *mapped) return mapped;
    // COM1 is the first 16550-style port of the PC.
    return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace kv
