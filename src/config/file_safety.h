// The file-safety steps of a rewrite, one small function each: create the
// new file, close it durably, keep the backup, move the new file into place,
// sync the directory. Each failure is reported with the file name and the
// system's error text.
#pragma once

#include <string>

#include "config/config_files.h"

namespace zorv {

// Owns one file descriptor and closes it once.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  // Closes now and reports whether close() succeeded.
  int close();

 private:
  int fd_ = -1;
};

// "zorvadmin: cannot ACTION PATH: ERROR" on standard error, for errno.
void reportFileError(const char* action, const std::string& path);

FileDescriptor openForReading(const std::string& path);

// Creates (or empties) path for writing with mode 0644; errno tells why not.
FileDescriptor openNewFile(const std::string& path);

// openNewFile, reporting a failure.
FileDescriptor createNewFile(const std::string& path);

// fsync and close; reports failures.
int closeNewFile(FileDescriptor& fd, const std::string& path);

// Replaces files.backup by a hard link to files.config (a copy where a link
// is impossible); files.config itself is never moved away.
int keepBackup(const ConfigFiles& files);

// rename(from, to), then fsync of the directory holding to.
int moveIntoPlace(const std::string& from, const std::string& to);

// Takes an exclusive flock on path (created when missing, never removed),
// waiting at most timeoutSeconds; an invalid descriptor when it cannot.
FileDescriptor lockConfig(const std::string& path, int timeoutSeconds);

// Backup first, then the new file over the configuration.
int rotateConfigFiles(const ConfigFiles& files);

}  // namespace zorv
