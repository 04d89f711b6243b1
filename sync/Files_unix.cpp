#include "sync/Files.h"

namespace kv {

std::FILE* openBinaryFile(const std::filesystem::path& path, bool write) {
    return std::fopen(path.c_str(), write ? "wb" : "rb");
}

}  // namespace kv
