#include <windows.h>

#include <QDir>

#include "run/LockFile.h"

namespace kv {

// A running bridge keeps its lock file open without sharing deletion (QLockFile does).  An
// exclusive open succeeds only when nobody has the file open, and deleting on close removes
// exactly that file in the same step.
bool removeUnheldLock(const QString& path) {
    const HANDLE h =
        CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                    DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

}  // namespace kv
