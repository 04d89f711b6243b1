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

// An open that shares nothing fails while the holder has the file open.
LockHolder lockHolder(const QString& path) {
    const HANDLE h =
        CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                    GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return LockHolder::nobody;
    }
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return LockHolder::nobody;
        case ERROR_SHARING_VIOLATION:
            return LockHolder::someone;
        default:
            return LockHolder::unknown;
    }
}

}  // namespace kv
