#include <cstdlib>
#include <string>

#include "link/SerialDevice.h"

namespace kv {

std::string portDeviceName(int port) {
    const std::string variable = "KVBRIDGE_COM" + std::to_string(port);
    if (const char* mapped = std::getenv(variable.c_str()); mapped && *mapped) return mapped;
    return "COM" + std::to_string(port);
}

}  // namespace kv
