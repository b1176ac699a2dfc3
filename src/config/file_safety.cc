#include "config/file_safety.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <thread>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/line_io.h"

namespace zorv {
namespace {

std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int syncDirectoryOf(const std::string& path) {
  const std::string directory = directoryOf(path);
  FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() || flushFile(fd.get()) != 0) {
    reportFileError("sync directory", directory);
    return -1;
  }
  return 0;
}

int copyFileContent(const std::string& from, const std::string& to) {
  FileDescriptor input = openForReading(from);
  if (!input.valid()) return -1;
  FileDescriptor output = createNewFile(to);
  if (!output.valid()) return -1;
  std::array<char, kReadChunkSize> chunk{};
  for (;;) {
    const long got = readChunk(input.get(), chunk.data(), false);
    if (got < 0) {
      reportFileError("read", from);
      return -1;
    }
    if (got == 0) break;
    if (writeAll(output.get(), chunk.data(), got) != 0) {
      reportFileError("write", to);
      return -1;
    }
  }
  return closeNewFile(output, to);
}

}  // namespace

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
  const int result = ::close(release());
  return result == 0 ? 0 : -1;
}

void reportFileError(const char* action, const std::string& path) {
  std::fprintf(stderr, "zorvadmin: cannot %s %s: %s\n", action, path.c_str(), std::strerror(errno));
}

FileDescriptor openForReading(const std::string& path) {
  return FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

FileDescriptor openNewFile(const std::string& path) {
  return FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

FileDescriptor createNewFile(const std::string& path) {
  FileDescriptor fd = openNewFile(path);
  if (!fd.valid()) reportFileError("create", path);
  return fd;
}

int closeNewFile(FileDescriptor& fd, const std::string& path) {
  if (flushFile(fd.get()) != 0) {
    reportFileError("sync", path);
    return -1;
  }
  if (fd.close() != 0) {
    reportFileError("close", path);
    return -1;
  }
  return 0;
}

int keepBackup(const ConfigFiles& files) {
  if (::unlink(files.backup.c_str()) != 0 && errno != ENOENT) {
    reportFileError("remove", files.backup);
    return -1;
  }
  if (::link(files.config.c_str(), files.backup.c_str()) == 0) return 0;
  if (errno != EPERM && errno != EXDEV && errno != EMLINK && errno != ENOTSUP) {
    reportFileError("link", files.backup);
    return -1;
  }
  return copyFileContent(files.config, files.backup);
}

int moveIntoPlace(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    reportFileError("rename", from);
    return -1;
  }
  return syncDirectoryOf(to);
}

FileDescriptor lockConfig(const std::string& path, int timeoutSeconds) {
  FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    reportFileError("open", path);
    return fd;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      reportFileError("lock", path);
      return FileDescriptor();
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "zorvadmin: cannot lock %s: another run still holds it after %d seconds\n", path.c_str(),
                   timeoutSeconds);
      return FileDescriptor();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return fd;
}

int rotateConfigFiles(const ConfigFiles& files) {
  if (keepBackup(files) != 0) return -1;
  return moveIntoPlace(files.newFile, files.config);
}

}  // namespace zorv
