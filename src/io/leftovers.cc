#include "io/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "io/file_descriptor.h"

namespace zorv {
namespace {

constexpr std::size_t kSuffixLength = 6;

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool isLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// name is stem itself, or stem and six letters or digits.
bool hasNewFileName(const std::string& name, const std::string& stem, bool stemItself) {
  if (name.compare(0, stem.size(), stem) != 0) return false;
  if (name.size() == stem.size()) return stemItself;
  if (name.size() != stem.size() + kSuffixLength) return false;
  for (std::size_t i = stem.size(); i < name.size(); ++i) {
    if (!isLetterOrDigit(name[i])) return false;
  }
  return true;
}

}  // namespace

const char* leftoverProblem(const struct stat& info, uid_t owner) {
  if (S_ISLNK(info.st_mode)) return "is a symbolic link";
  if (S_ISDIR(info.st_mode)) return "is a directory";
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  if (info.st_uid != 0 && info.st_uid != owner) return "belongs to another user";
  if (info.st_nlink != 1) return "has other names";
  return nullptr;
}

std::vector<Leftover> findLeftovers(const std::string& target, const std::string& newName,
                                    const std::string& backupTemporary) {
  std::vector<Leftover> found;
  const std::string directory = directoryOf(target);
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(directory.c_str()), ::closedir);
  if (!listing) return found;
  struct stat current {};
  const uid_t owner = ::stat(target.c_str(), &current) == 0 ? current.st_uid : 0;
  const std::string newStem = baseName(newName);
  const std::string backupStem = baseName(backupTemporary);
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string name = entry->d_name;
    const bool waiting = name == backupStem;
    if (!hasNewFileName(name, newStem, true) && !hasNewFileName(name, backupStem, waiting)) continue;
    struct stat info {};
    if (::fstatat(::dirfd(listing.get()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const char* problem = leftoverProblem(info, owner);
    // The replaced version's second name: more than one name, and ours.
    if (waiting && S_ISREG(info.st_mode) && info.st_dev == current.st_dev && info.st_ino == current.st_ino) {
      problem = nullptr;
    }
    found.push_back({directory + "/" + name, problem, waiting});
  }
  return found;
}

int removeLeftovers(const std::string& target, const std::string& newName, const std::string& backupTemporary) {
  for (const Leftover& leftover : findLeftovers(target, newName, backupTemporary)) {
    // The backup's name in waiting is finishInterruptedBackup's: it may be
    // the replaced version, still wanted as the backup.
    if (leftover.problem != nullptr || leftover.waitingBackup) continue;
    if (::unlink(leftover.path.c_str()) != 0 && errno != ENOENT) {
      reportFileError("remove", leftover.path);
      return -1;
    }
  }
  return 0;
}

}  // namespace zorv
