#include "io/new_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "io/file_attributes.h"
#include "io/line_io.h"
#include "io/pending_files.h"

namespace zorv {

int syncDirectoryOf(const std::string& path) {
  const std::string directory = directoryOf(path);
  FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() || flushFile(fd.get()) != 0) {
    reportFileError("sync directory", directory);
    return -1;
  }
  return 0;
}

namespace {

constexpr int kUniqueNameTries = 100;

// Six letters or digits from the kernel's random source.
std::string randomSuffix() {
  constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::array<unsigned char, 6> bytes{};
  while (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
  }
  std::string suffix;
  for (const unsigned char byte : bytes) suffix += kAlphabet[byte % kAlphabet.size()];
  return suffix;
}

// A name of our own: the given name when it is free, else that name with a
// random suffix. Whatever already stands at a name belongs to someone else
// (another run, a crashed one, an attacker's link) and is never removed.
// makeName creates the file at a name, O_EXCL-like (EEXIST when taken).
template <typename MakeName>
int takeUniqueName(const std::string& name, NewName naming, std::string& taken, const MakeName& makeName) {
  taken = naming == NewName::GivenWhenFree ? name : name + randomSuffix();
  for (int attempt = 0; attempt < kUniqueNameTries; ++attempt) {
    if (makeName(taken) == 0) return 0;
    if (errno != EEXIST) return -1;
    taken = name + randomSuffix();
  }
  taken = name;
  return -1;
}

FileDescriptor createUnique(const std::string& name, mode_t mode, NewName naming, std::string& created) {
  constexpr int kFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  FileDescriptor fd;
  takeUniqueName(name, naming, created, [&](const std::string& candidate) {
    fd = FileDescriptor(::open(candidate.c_str(), kFlags, mode));
    return fd.valid() ? 0 : -1;
  });
  return fd;
}

// A file without a name in name's directory, so that a run killed before
// the rename leaves nothing behind; invalid with errno set when refused.
FileDescriptor createUnnamed(const std::string& name, mode_t mode) {
  return FileDescriptor(::open(directoryOf(name).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
}

// Errors of a file system or kernel that cannot make unnamed files: the
// named way is taken there. Any other error is the directory's own.
bool unnamedRefused(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

// Links the unnamed file open at fd to name; EEXIST when the name is taken.
// Through /proc, which needs no privilege; AT_EMPTY_PATH where /proc is
// missing.
int linkUnnamed(int fd, const std::string& name) {
  const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT) return -1;
  return ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
}

}  // namespace

NewFile NewFile::create(const std::string& name, mode_t mode, NewName naming) {
  FileDescriptor unnamed = createUnnamed(name, mode);
  const bool named = !unnamed.valid() && unnamedRefused(errno);
  std::string path = name;
  FileDescriptor fd = named ? createUnique(name, mode, naming, path) : std::move(unnamed);
  if (!fd.valid()) {
    reportFileError("create", path);
    return NewFile(path, std::move(fd));
  }
  NewFile file(path, std::move(fd));
  file.naming_ = naming;
  file.named_ = named;
  file.created_ = named;
  if (named) file.pendingSlot_ = rememberPending(path);
  if (::fchmod(file.fd_.get(), mode) != 0) {
    reportFileError("set the mode of", path);
    file.fd_.close();
  }
  return file;
}

NewFile::NewFile(NewFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::move(other.fd_)), gathered_(std::move(other.gathered_)),
      naming_(other.naming_), named_(other.named_), created_(other.created_), failed_(other.failed_),
      pendingSlot_(other.pendingSlot_) {
  other.created_ = false;
  other.pendingSlot_ = -1;
}

NewFile::~NewFile() {
  fd_.close();
  if (created_) ::unlink(path_.c_str());
  forgetPending(pendingSlot_);
}

int NewFile::writeGathered() {
  // A failed write may have written part of its bytes, and a failed fsync
  // may have lost some: nothing about this file can be trusted any more.
  if (failed_) return -1;
  if (gathered_.empty()) return 0;
  if (writeDurably(fd_.get(), gathered_.data(), static_cast<long>(gathered_.size())) != 0) {
    failed_ = true;
    reportFileError("write", path_);
    return -1;
  }
  gathered_.clear();
  return 0;
}

int NewFile::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t room = kGatheredWriteSize - gathered_.size();
    const std::size_t taken = std::min(room, bytes.size());
    gathered_.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
    if (gathered_.size() == kGatheredWriteSize && writeGathered() != 0) return -1;
  }
  return 0;
}

int NewFile::copyFrom(int fd, const std::string& source) {
  std::array<char, kReadChunkSize> chunk{};
  for (;;) {
    const long got = readChunk(fd, chunk.data());
    if (got < 0) {
      reportFileError("read", source);
      return -1;
    }
    if (got == 0) return 0;
    if (write({chunk.data(), static_cast<std::size_t>(got)}) != 0) return -1;
  }
}

int NewFile::takeAttributesOf(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || copyExtendedAttributes(fd, fd_.get()) != 0) {
    reportFileError("copy the attributes to", path_);
    return -1;
  }
  return setOwnerAndMode(info.st_uid, info.st_gid, info.st_mode & 07777);
}

int NewFile::setOwnerAndMode(uid_t owner, gid_t group, mode_t mode) {
  // Owner first: a change of owner clears the set-ID bits that fchmod sets.
  if (::fchown(fd_.get(), owner, group) != 0 || ::fchmod(fd_.get(), mode) != 0) {
    reportFileError("set the owner and mode of", path_);
    return -1;
  }
  return 0;
}

Comparison NewFile::compareWith(int fd) {
  if (writeGathered() != 0) return Comparison::Failed;
  std::array<char, kReadChunkSize> ours{};
  std::array<char, kReadChunkSize> theirs{};
  for (off_t offset = 0;;) {
    const ssize_t a = ::pread(fd_.get(), ours.data(), ours.size(), offset);
    const ssize_t b = ::pread(fd, theirs.data(), theirs.size(), offset);
    if (a < 0 || b < 0) return Comparison::Failed;
    if (a != b) return Comparison::Different;
    if (a == 0) return Comparison::Same;
    if (std::memcmp(ours.data(), theirs.data(), static_cast<std::size_t>(a)) != 0) return Comparison::Different;
    offset += a;
  }
}

int NewFile::syncData() {
  if (writeGathered() != 0) return -1;
  if (flushFile(fd_.get()) != 0) {
    failed_ = true;
    reportFileError("sync", path_);
    return -1;
  }
  return 0;
}

int NewFile::nameAndClose() {
  if (!named_) {
    std::string linked;
    if (takeUniqueName(path_, naming_, linked, [this](const std::string& name) { return linkUnnamed(fd_.get(), name); }) !=
        0) {
      reportFileError("create", linked);
      return -1;
    }
    path_ = linked;
    named_ = true;
    created_ = true;
    pendingSlot_ = rememberPending(path_);
  }
  if (fd_.close() != 0) {
    reportFileError("close", path_);
    return -1;
  }
  return 0;
}

int NewFile::renameOver(const std::string& target) {
  if (::rename(path_.c_str(), target.c_str()) != 0) {
    reportFileError("rename", path_);
    return -1;
  }
  created_ = false;
  forgetPending(pendingSlot_);
  pendingSlot_ = -1;
  return 0;
}

int NewFile::commit(const std::string& target) {
  if (syncData() != 0 || nameAndClose() != 0 || renameOver(target) != 0) return -1;
  return syncDirectoryOf(target);
}

}  // namespace zorv
