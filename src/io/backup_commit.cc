// The commit that keeps the replaced version as the backup, and the
// finishing of one that a crash interrupted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "io/file_descriptor.h"
#include "io/leftovers.h"
#include "io/new_file.h"

namespace zorv {
namespace {

// The backup as a second name of target, or as a copy where a file system
// has no hard links. Whatever still stands at temporary is someone else's
// (finishInterruptedBackup cleared ours): the link fails on it rather than
// remove it.
int linkOrCopy(const std::string& target, const std::string& temporary) {
  if (::link(target.c_str(), temporary.c_str()) == 0) return 0;
  if (errno != EPERM && errno != EXDEV && errno != EMLINK && errno != ENOTSUP) {
    reportFileError("link", temporary);
    return -1;
  }
  FileDescriptor input = openForReading(target);
  if (!input.valid()) {
    reportFileError("open", target);
    return -1;
  }
  // Copied under a name of its own and renamed only when whole: a crash
  // mid-copy must not leave a short file where the backup is looked for.
  NewFile copy = NewFile::create(temporary, 0600, NewName::AlwaysRandom);
  if (!copy.valid() || copy.takeAttributesOf(input.get()) != 0 || copy.copyFrom(input.get(), target) != 0) return -1;
  return copy.commit(temporary);
}

bool sameFile(const std::string& path, const struct stat& other) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && info.st_dev == other.st_dev && info.st_ino == other.st_ino;
}

int removeBackupInWaiting(const BackupNames& names) {
  if (::unlink(names.temporary.c_str()) != 0 && errno != ENOENT) {
    reportFileError("remove", names.temporary);
    return -1;
  }
  return 0;
}

// A rename between two names of one file does nothing (a backup an
// administrator made with ln, say): the name in waiting then goes by hand,
// or it would stay for good.
int backupIntoPlace(const BackupNames& names) {
  if (::rename(names.temporary.c_str(), names.backup.c_str()) != 0) {
    reportFileError("rename", names.temporary);
    return -1;
  }
  struct stat left {};
  if (::lstat(names.temporary.c_str(), &left) != 0) return 0;
  return sameFile(names.backup, left) ? removeBackupInWaiting(names) : 0;
}

}  // namespace

int NewFile::commitKeepingBackup(const std::string& target, const BackupNames& names) {
  // A backup that no rename can replace would fail only after the new file
  // is in place; find it out first.
  struct stat backup {};
  if (::lstat(names.backup.c_str(), &backup) == 0 && S_ISDIR(backup.st_mode)) {
    errno = EISDIR;
    reportFileError("remove", names.backup);
    return -1;
  }
  // The replaced version's second name reaches the disk before the
  // replacement does, or a power cut could leave neither name on it. The
  // new file is named only now: a run killed before leaves nothing.
  if (syncData() != 0 || linkOrCopy(target, names.temporary) != 0) return -1;
  if (syncDirectoryOf(names.temporary) != 0 || nameAndClose() != 0 || renameOver(target) != 0) {
    ::unlink(names.temporary.c_str());
    return -1;
  }
  if (syncDirectoryOf(target) != 0) return -1;
  // The new version is in place for good: only now may the old backup go.
  // This rename needs no sync of its own: lost in a crash, it leaves the
  // backup in waiting, which the next change moves into place.
  return backupIntoPlace(names);
}

int finishInterruptedBackup(const std::string& target, const BackupNames& names) {
  struct stat leftover {};
  if (::lstat(names.temporary.c_str(), &leftover) != 0) return 0;
  if (S_ISREG(leftover.st_mode) && sameFile(names.backup, leftover)) return removeBackupInWaiting(names);
  struct stat current {};
  const bool found = ::stat(target.c_str(), &current) == 0;
  const bool secondName = found && current.st_dev == leftover.st_dev && current.st_ino == leftover.st_ino;
  // Only what a run of ours certainly left is touched: a link, a directory
  // or another user's file stays (--check reports it).
  const char* problem = leftoverProblem(leftover, found ? current.st_uid : 0);
  if (problem != nullptr && !(secondName && S_ISREG(leftover.st_mode))) return 0;
  if (secondName ? ::unlink(names.temporary.c_str()) != 0
                 : ::rename(names.temporary.c_str(), names.backup.c_str()) != 0) {
    reportFileError(secondName ? "remove" : "rename", names.temporary);
    return -1;
  }
  return 0;
}

}  // namespace zorv
