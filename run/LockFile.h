#pragma once

#include <QString>

namespace kv {

// Removes the lock file at path when no running program holds it (a bridge holds its lock file
// open for as long as it runs), without ever removing one that a start racing with this one has
// just made.  False when the file is held, is gone, or the system cannot tell.
//
// The process number written in the file is not enough: after a crash or a kill the number is
// soon given to another process, under wine often to the very next start, which would then
// take its own leftover lock for a live bridge's and end without a word.
bool removeUnheldLock(const QString& path);

// Whether a running program holds the lock file at path, asked without taking it from anybody
// and without removing it: unknown when the file cannot be opened to look (access denied).
enum class LockHolder { nobody, someone, unknown };
LockHolder lockHolder(const QString& path);

}  // namespace kv
