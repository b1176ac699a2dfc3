// The one owner of the file-safety sequence: a new version of a file is
// created beside it without a name where the file system allows, takes the
// writes, and on commit has its data synced once, gets a name and is moved
// into place (keeping the old version as a backup when asked). A new file
// destroyed without a successful commit removes itself, so no caller ever
// unlinks anything by hand.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "io/file_descriptor.h"

namespace zorv {

// Writes are gathered and go out in durable writes of at most this size.
constexpr std::size_t kGatheredWriteSize = 64 * 1024;

struct BackupNames {
  std::string backup;     // where the replaced version ends up
  std::string temporary;  // the replaced version's name until the new one is in place
};

// How a new file is named: the given name when nothing stands there, else
// that name with a random suffix; or always with a random suffix.
enum class NewName { GivenWhenFree, AlwaysRandom };

enum class Comparison { Same, Different, Failed };

class NewFile {
 public:
  // Creates a file of this run's own in name's directory with the given
  // mode, whatever the umask: unnamed (O_TMPFILE) and named (see NewName)
  // only on commit, or named now where unnamed files are refused; O_EXCL
  // and never through a link, and nothing that stands at a name is ever
  // removed. Reports a failure; valid() then tells.
  static NewFile create(const std::string& name, mode_t mode, NewName naming = NewName::GivenWhenFree);

  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&&) = delete;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile();

  bool valid() const { return fd_.valid(); }
  const std::string& path() const { return path_; }

  // Gathers bytes; every full 64 KiB goes out as one durable write.
  int write(std::string_view bytes);
  // Writes everything read from fd, which is open on source.
  int copyFrom(int fd, const std::string& source);

  // Gives the new file the owner, group, mode and extended attributes of
  // the file open at fd, and drops those it took from its directory (a
  // default ACL) that the file at fd does not have.
  int takeAttributesOf(int fd);
  // Gives the new file this owner, group and mode.
  int setOwnerAndMode(uid_t owner, gid_t group, mode_t mode);

  // Writes out what is gathered, then compares the whole new file with the
  // file open at fd; Failed when either could not be read (or the write
  // failed, reported).
  Comparison compareWith(int fd);

  // Syncs the new file's data, names it, moves it over target and syncs
  // the directory.
  int commit(const std::string& target);
  // The same, and the replaced target becomes names.backup, which changes
  // only once the new file is in place; the replaced version's second name
  // (names.temporary) is durable before the rename.
  int commitKeepingBackup(const std::string& target, const BackupNames& names);

 private:
  NewFile(std::string path, FileDescriptor fd) : path_(std::move(path)), fd_(std::move(fd)) {}
  int writeGathered();
  int syncData();
  int nameAndClose();
  int renameOver(const std::string& target);

  std::string path_;  // the name, or the one asked for while unnamed
  FileDescriptor fd_;
  std::string gathered_;
  NewName naming_ = NewName::GivenWhenFree;
  bool named_ = true;     // false while the file has no name (O_TMPFILE)
  bool created_ = false;  // path_ is ours to remove until committed
  bool failed_ = false;   // a write or flush failed: the file's content is unknown
  int pendingSlot_ = -1;  // where the signal handler finds path_
};

// Finishes what a run that ended between the two renames of
// commitKeepingBackup left behind: names.temporary is either a second name
// of target (removed) or the version target replaced (made the backup).
// Anything else there (a link, a directory, another user's file) stays.
int finishInterruptedBackup(const std::string& target, const BackupNames& names);

// Syncs the directory that holds path, so that a name made or changed in
// it lasts; 0, or -1 after the report.
int syncDirectoryOf(const std::string& path);


}  // namespace zorv
