#pragma once

#include <cstddef>
#include <filesystem>

namespace kv::test {

// A file system of a few kilobytes (tmpfs) mounted on a directory while the object lives, for
// the faults of a working directory: full, or read-only.  Mounting needs the right to; where it
// is missing, usable() is false and the directory is left as it was.
class SmallFilesystem {
public:
    SmallFilesystem(std::filesystem::path dir, std::size_t bytes);
    ~SmallFilesystem();
    SmallFilesystem(const SmallFilesystem&) = delete;
    SmallFilesystem& operator=(const SmallFilesystem&) = delete;

    bool usable() const { return m_mounted; }
    // Writes a filler file until nothing more fits; drain() removes it again.
    void fill();
    void drain();
    void setReadOnly(bool readOnly);

private:
    std::filesystem::path m_dir;
    std::size_t m_bytes;
    bool m_mounted = false;
};

}  // namespace kv::test
