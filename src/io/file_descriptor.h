// File descriptors that close themselves, the one way files are opened for
// reading, and the words of a file error.
//
// Who reports a failure: a function that is a whole step of a run and knows
// the file's name for the user (NewFile, lockFile, finishInterruptedBackup,
// writeDefaultConfig, the passes) prints "zorvadmin: cannot ACTION PATH:
// ERROR" itself, through reportFileError, and returns -1. A primitive
// (openForReading, readChunk, readLines, writeAllBytes, flushFile) only
// returns its failure with errno set, and its caller reports it, as only
// the caller knows what the run was doing. Messages that are not about a
// file (a refused operand, the scheduler) are the caller's own words.
#pragma once

#include <string>
#include <string_view>

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
  // Closes now: 0, or -1 with errno set.
  int close();

 private:
  int fd_ = -1;
};

// errno for a file that exists but is neither a regular file nor a
// directory (a FIFO, a device, a socket): reading it could block or never end.
constexpr int kNotRegularFile = -1000;

// "zorvadmin: cannot ACTION PATH: ERROR" on standard error, for errno,
// which it leaves as it was.
void reportFileError(const char* action, const std::string& path);

// The text reportFileError prints for an errno value.
const char* fileErrorText(int error);

// Writes all of bytes to fd, repeating partial writes and EINTR, without
// any flush: for pipes and memory files. 0, or -1 with errno set.
int writeAllBytes(int fd, std::string_view bytes);

// Opens path for reading. A FIFO never blocks the open, and anything but a
// regular file or a directory is refused with errno kNotRegularFile (a
// directory opens, and its first read fails with EISDIR). An empty regular
// file stays non-blocking, so a kernel file that never answers fails its
// read with EAGAIN.
FileDescriptor openForReading(const std::string& path);

// The directory part of path: "." for a bare name, "/" for a name in /.
std::string directoryOf(const std::string& path);

}  // namespace zorv
