#include "io/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "io/problem_report.h"

#include "io/run_budget.h"

namespace zorv {
namespace {

constexpr int kOpenFlags = O_NOFOLLOW | O_CLOEXEC;

// For a shared lock, a lock file that cannot be written is opened
// read-only; on a read-only file system it may not exist at all, and the
// run then goes on without it (an invalid descriptor and errno 0). A
// reading lock opens only an existing file, read-only, and goes on without
// one it may not open.
FileDescriptor openLockFile(const std::string& path, LockMode mode) {
  if (mode == LockMode::Reading) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | kOpenFlags));
    if (!fd.valid() && (errno == ENOENT || errno == EACCES)) errno = 0;
    return fd;
  }
  FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpenFlags, 0600));
  // Created now: root's, whatever group a set-user-ID caller runs with.
  if (fd.valid() && ::fchown(fd.get(), 0, 0) != 0) return FileDescriptor();
  if (!fd.valid() && errno == EEXIST) fd = FileDescriptor(::open(path.c_str(), O_RDWR | kOpenFlags));
  if (fd.valid() || mode != LockMode::Shared || (errno != EROFS && errno != EACCES)) return fd;
  const int writeError = errno;
  fd = FileDescriptor(::open(path.c_str(), O_RDONLY | kOpenFlags));
  if (!fd.valid() && errno == ENOENT && writeError == EROFS) errno = 0;
  return fd;
}

}  // namespace

int lockTimeoutSeconds() { return timeoutSeconds("ZORV_LOCK_TIMEOUT", 10); }

int lockFile(const std::string& path, LockMode mode, int timeoutSeconds, FileDescriptor& held) {
  FileDescriptor fd = openLockFile(path, mode);
  if (!fd.valid()) {
    if (errno == 0) return 0;
    reportFileError("open", path);
    return -1;
  }
  const int operation = (mode == LockMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (::flock(fd.get(), operation) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      reportFileError("lock", path);
      return -1;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      reportProblem("cannot lock %s: another run still holds it after %d seconds", path.c_str(), timeoutSeconds);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  held = std::move(fd);
  return 0;
}

}  // namespace zorv
