#include "io/file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/problem_report.h"

namespace zorv {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() { close(); }

int FileDescriptor::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

int FileDescriptor::close() {
  if (fd_ < 0) return 0;
  return ::close(release()) == 0 ? 0 : -1;
}

const char* fileErrorText(int error) {
  if (error == kNotRegularFile) return "not a regular file";
  return std::strerror(error);
}

void reportFileError(const char* action, const std::string& path) {
  const int error = errno;  // callers may still need it
  reportProblem("cannot %s %s: %s", action, path.c_str(), fileErrorText(error));
  errno = error;
}

int writeAllBytes(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return -1;
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return 0;
}

FileDescriptor openForReading(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return fd;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return FileDescriptor();
  if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    errno = kNotRegularFile;
    return FileDescriptor();
  }
  // A regular file with a size never blocks. One without (a kernel file
  // such as /proc/kmsg) may wait for ever: its reads stay non-blocking and
  // fail with EAGAIN instead.
  if (info.st_size > 0) ::fcntl(fd.get(), F_SETFL, 0);
  return fd;
}

std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace zorv
