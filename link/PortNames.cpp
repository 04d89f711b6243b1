#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "link/Logging.h"
#include "link/SerialDevice.h"

namespace kv {

namespace {

std::string keyOf(int port) { return "COM" + std::to_string(port) + "="; }

// The lines of the file, without their line ends (CR LF or LF).
std::vector<std::string> linesOf(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::string environmentPortDevice(int port) {
    const std::string variable = "KVBRIDGE_COM" + std::to_string(port);
    const char* mapped = std::getenv(variable.c_str());
    return mapped ? mapped : "";
}

std::string rememberedPortDevice(int port) {
    const std::string key = keyOf(port);
    for (const std::string& line : linesOf(kPortDevicesFile))
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0)
            return line.substr(key.size());
    return {};
}

std::string portDeviceName(int port) {
    if (std::string mapped = environmentPortDevice(port); !mapped.empty()) return mapped;
    if (std::string remembered = rememberedPortDevice(port); !remembered.empty()) return remembered;
    return defaultPortDevice(port);
}

bool rememberPortDevice(int port, const std::string& device) {
    const std::string key = keyOf(port);
    std::vector<std::string> lines = linesOf(kPortDevicesFile);
    bool replaced = false;
    for (std::string& line : lines) {
        if (line.compare(0, key.size(), key) != 0) continue;
        line = key + device;
        replaced = true;
    }
    if (!replaced) lines.push_back(key + device);
    // Written aside and renamed, so a bridge that starts meanwhile reads the old or the new
    // file, never half of one.
    const std::filesystem::path temporary = std::string(kPortDevicesFile) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines) out << line << "\r\n";
        out.flush();
        if (!out) {
            qCWarning(lcLink) << kPortDevicesFile << "not written";
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, kPortDevicesFile, ec);
    if (ec) {
        qCWarning(lcLink) << kPortDevicesFile << "not written:" << ec.message().c_str();
        std::filesystem::remove(temporary, ec);
        return false;
    }
    qCInfo(lcLink) << "COM" << port << "is now" << device.c_str() << "(" << kPortDevicesFile << ")";
    return true;
}

}  // namespace kv
