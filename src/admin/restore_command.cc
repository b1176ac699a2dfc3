#include "admin/restore_command.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "admin/change_audit.h"
#include "admin/change_command.h"
#include "admin/config_replace.h"
#include "admin/exit_status.h"
#include "config/config_files.h"
#include "io/file_lock.h"
#include "io/leftovers.h"
#include "io/new_file.h"
#include "io/problem_report.h"

namespace zorv {
namespace {


// Why the backup must not become the configuration; null when it may. An
// empty backup would empty the configuration, and one that another user
// owns or could have swapped for a link would hand them root's file.
const char* backupProblem(const struct stat& backup, const struct stat& config) {
  if (S_ISLNK(backup.st_mode)) return "is a symbolic link";
  if (!S_ISREG(backup.st_mode)) return "is not a regular file";
  if (backup.st_uid != 0 && backup.st_uid != config.st_uid) return "belongs to another user";
  if (backup.st_size == 0) return "is empty";
  return nullptr;
}

// The backup, opened as it was checked: a regular file of root's or the
// configuration's owner, not empty, never through a link.
FileDescriptor openBackup(const ConfigFiles& files, const struct stat& config) {
  struct stat checked {};
  if (::lstat(files.backup.c_str(), &checked) != 0) {
    reportProblem("cannot restore %s: no backup %s: %s", files.config.c_str(), files.backup.c_str(),
                  fileErrorText(errno));
    return FileDescriptor();
  }
  if (const char* problem = backupProblem(checked, config)) {
    reportProblem("cannot restore %s: the backup %s %s", files.config.c_str(), files.backup.c_str(), problem);
    return FileDescriptor();
  }
  FileDescriptor backup(::open(files.backup.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat opened {};
  if (!backup.valid() || ::fstat(backup.get(), &opened) != 0 || opened.st_ino != checked.st_ino ||
      opened.st_dev != checked.st_dev) {
    if (backup.valid()) errno = EAGAIN;  // replaced since it was checked
    reportFileError("open", files.backup);
    return FileDescriptor();
  }
  return backup;
}

int restoreUnderLock(const ConfigFiles& files) {
  FileDescriptor config = openForReading(files.config);
  struct stat configInfo {};
  if (!config.valid() || ::fstat(config.get(), &configInfo) != 0) {
    reportFileError("open", files.config);
    return kExitFileError;
  }
  FileDescriptor backup = openBackup(files, configInfo);
  if (!backup.valid()) return kExitFileError;
  // The configuration's owner, mode and attributes, never the backup's.
  NewFile file = NewFile::create(files.newFile, 0600);
  if (!file.valid() || file.takeAttributesOf(config.get()) != 0 || file.copyFrom(backup.get(), files.backup) != 0) {
    return kExitFileError;
  }
  const std::string changes = restoredDeviceChanges(files);
  const ChangeLines lines{[&] { logRestore(files.config, changes); },
                          [&] { logRefusedRestore(files.config, kExitFileError); }};
  return commitWithLines(file, files, lines) == 0 ? kExitOk : kExitFileError;
}

int restoreLocked(const ConfigFiles& files) {
  if (checkLinksFollowed(files) != 0) return kExitFileError;
  FileDescriptor lock;
  if (lockFile(files.lock, LockMode::Exclusive, lockTimeoutSeconds(), lock) != 0 ||
      finishInterruptedBackup(files.config, {files.backup, files.backupTemporary}) != 0 ||
      removeLeftovers(files.config, files.newFile, files.backupTemporary) != 0) {
    return kExitFileError;
  }
  return restoreUnderLock(files);
}

}  // namespace

int restoreBackup(const LongOptions& options) {
  const ConfigFiles files = configFilesFromEnvironment();
  if (const int status = restoreLocked(files); status != kExitOk) {
    if (!commitFailureLogged()) logRefusedRestore(files.config, status);
    return status;
  }
  // The lock is let go first: the listing asks the scheduler.
  return options.quiet ? kExitOk : listConfiguration(options);
}

}  // namespace zorv
