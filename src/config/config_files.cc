#include "config/config_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "io/file_descriptor.h"

namespace zorv {
namespace {

constexpr int kMaxLinkDepth = 40;  // as the kernel's own limit

// The kernel's fs.protected_symlinks rule, kept whatever the sysctl says: a
// link in a world-writable sticky directory is followed only when it is the
// follower's own or the directory owner's, so no user can plant one in /tmp
// that sends root's rewrite to a file of root's.
bool safeToFollow(const std::string& link, const struct stat& linkInfo) {
  struct stat directory {};
  if (::stat(directoryOf(link).c_str(), &directory) != 0) return false;
  const bool shared = (directory.st_mode & S_ISVTX) != 0 && (directory.st_mode & S_IWOTH) != 0;
  return !shared || linkInfo.st_uid == ::geteuid() || linkInfo.st_uid == directory.st_uid;
}

std::string resolveLinks(const std::string& given, int& followError) {
  std::string path = given;
  for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    if (!safeToFollow(path, info)) {
      followError = EACCES;
      return path;
    }
    std::array<char, 4096> target{};
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size() - 1);
    if (length <= 0) return given;
    const std::string next(target.data(), static_cast<std::size_t>(length));
    const auto slash = path.rfind('/');
    path = (next[0] == '/' || slash == std::string::npos) ? next : path.substr(0, slash + 1) + next;
  }
  return given;  // a loop: opening it reports ELOOP under the name the user knows
}

}  // namespace

ConfigFiles configFilesFor(const std::string& configPath) {
  int followError = 0;
  const std::string config = resolveLinks(configPath, followError);
  return ConfigFiles{config, config + "~", config + ".bak", config + ".bak~", config + ".lock", followError};
}

int checkLinksFollowed(const ConfigFiles& files) {
  if (files.followError == 0) return 0;
  errno = files.followError;
  reportFileError("follow the link", files.config);
  return -1;
}

ConfigFiles configFilesFromEnvironment() {
  const char* fromEnvironment = secure_getenv("ZORV_CONF");
  if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') return configFilesFor(fromEnvironment);
  return configFilesFor(kDefaultConfigPath);
}

}  // namespace zorv
