#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "run/LockFile.h"

namespace kv {

// A running bridge holds flock() on its lock file (QLockFile takes it).  Taking it here shows
// nobody does; the file is removed only while it is still the one locked, so a lock file made
// meanwhile by a racing start stays.
bool removeUnheldLock(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool removed = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat opened {
        }, named{};
        if (::fstat(fd, &opened) == 0 && ::stat(name.constData(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
            removed = ::unlink(name.constData()) == 0;
    }
    ::close(fd);
    return removed;
}

// A shared lock is refused only while someone holds the exclusive one; taken, it is given back
// at once, and a start racing with the question still gets its own lock.
LockHolder lockHolder(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? LockHolder::nobody : LockHolder::unknown;
    LockHolder holder = LockHolder::unknown;
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        ::flock(fd, LOCK_UN);
        holder = LockHolder::nobody;
    } else if (errno == EWOULDBLOCK) {
        holder = LockHolder::someone;
    }
    ::close(fd);
    return holder;
}

}  // namespace kv
