#include <filesystem>

namespace kv {

std::filesystem::path defaultDriveCRoot() { return std::filesystem::path("/"); }

}  // namespace kv
