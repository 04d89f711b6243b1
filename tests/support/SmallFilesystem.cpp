#include "support/SmallFilesystem.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kv::test {

namespace {
std::string options(std::size_t bytes) { return "size=" + std::to_string(bytes) + ",mode=0777"; }
}  // namespace

SmallFilesystem::SmallFilesystem(std::filesystem::path dir, std::size_t bytes)
    : m_dir(std::move(dir)), m_bytes(bytes) {
    std::filesystem::create_directories(m_dir);
    m_mounted = ::mount("tmpfs", m_dir.c_str(), "tmpfs", 0, options(m_bytes).c_str()) == 0;
}

SmallFilesystem::~SmallFilesystem() {
    if (m_mounted) ::umount2(m_dir.c_str(), MNT_DETACH);
}

void SmallFilesystem::fill() {
    const int fd = ::open((m_dir / ".filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0) return;
    const std::vector<char> block(4096, 'x');
    // Bounded: the file system holds m_bytes at most.
    for (std::size_t written = 0; written <= m_bytes;) {
        ssize_t n = ::write(fd, block.data(), block.size());
        if (n <= 0) n = ::write(fd, block.data(), 1);  // the last page's rest
        if (n <= 0) break;
        written += std::size_t(n);
    }
    ::close(fd);
}

void SmallFilesystem::drain() {
    std::error_code ec;
    std::filesystem::remove(m_dir / ".filler", ec);
}

void SmallFilesystem::setReadOnly(bool readOnly) {
    if (!m_mounted) return;
    ::mount(nullptr, m_dir.c_str(), nullptr, MS_REMOUNT | (readOnly ? MS_RDONLY : 0),
            options(m_bytes).c_str());
}

}  // namespace kv::test
