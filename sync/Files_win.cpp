#include "sync/Files.h"

namespace kv {

// The wide-character open takes the path as it is, whatever the narrow code page.
std::FILE* openBinaryFile(const std::filesystem::path& path, bool write) {
    return _wfopen(path.c_str(), write ? L"wb" : L"rb");
}

}  // namespace kv
