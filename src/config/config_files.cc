#include "config/config_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

namespace zorv {
namespace {

constexpr int kMaxLinkDepth = 40;  // as the kernel's own limit

std::string resolveLinks(const std::string& given) {
  std::string path = given;
  for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
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
  const std::string config = resolveLinks(configPath);
  return ConfigFiles{config, config + "~", config + ".bak", config + ".bak~", config + ".lock"};
}

ConfigFiles configFilesFromEnvironment() {
  const char* fromEnvironment = secure_getenv("ZORV_CONF");
  if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') return configFilesFor(fromEnvironment);
  return configFilesFor(kDefaultConfigPath);
}

}  // namespace zorv
