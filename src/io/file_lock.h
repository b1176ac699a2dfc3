// The lock that keeps runs from interleaving: an flock on a companion file
// that is created once and never removed.
#pragma once

#include <string>

#include "io/file_descriptor.h"

namespace zorv {

// Reading: a shared lock on the lock file as it stands, for a run that
// only reads (since 1.2, --tsv). The file is never created, and the run
// goes on without a lock (held stays invalid) when it is missing or the
// caller may not open it (0600 root, and the caller is not root): a
// rewrite renames a whole new file into place, so a read without the lock
// still sees one complete file.
enum class LockMode { Shared, Exclusive, Reading };

// How long a run waits for another to let go of the lock: 10 seconds, or
// ZORV_LOCK_TIMEOUT's.
int lockTimeoutSeconds();

// Takes the lock on path, waiting at most timeoutSeconds; never follows a
// link. A shared lock also works where the lock file cannot be written: it
// is then opened read-only, and on a read-only file system where it does
// not exist the run goes on without one (held stays invalid). Returns -1
// after reporting why the lock cannot be had.
int lockFile(const std::string& path, LockMode mode, int timeoutSeconds, FileDescriptor& held);

}  // namespace zorv
