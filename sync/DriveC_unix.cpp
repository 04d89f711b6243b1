#include <filesystem>

namespace kv {

// "/" is the administrator's: drive C: is the working directory, beside terminal.cfg, where the
// user who runs the bridge may write (as the service's own directory is).
std::filesystem::path defaultDriveCRoot() {
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path(".") : here;
}

}  // namespace kv
