#include "admin/device_path.h"

#include <sys/stat.h>

#include <cerrno>

#include "admin/change_log.h"

namespace zorv {
namespace {

bool isWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

DevicePathVerdict judgeDevicePath(std::string_view path) {
  if (!path.empty() && (isWhiteSpace(path.front()) || isWhiteSpace(path.back()))) return DevicePathVerdict::WhiteSpace;
  struct stat info {};
  if (::stat(std::string(path).c_str(), &info) != 0) {
    // A path that leads through a file does not exist either.
    return errno == ENOENT || errno == ENOTDIR ? DevicePathVerdict::Missing : DevicePathVerdict::CannotCheck;
  }
  return S_ISCHR(info.st_mode) ? DevicePathVerdict::CharacterDevice : DevicePathVerdict::NotADevice;
}

bool refusesDevicePath(DevicePathVerdict verdict) {
  return verdict == DevicePathVerdict::NotADevice || verdict == DevicePathVerdict::WhiteSpace;
}

const char* devicePathProblem(DevicePathVerdict verdict) {
  switch (verdict) {
    case DevicePathVerdict::CharacterDevice: return nullptr;
    case DevicePathVerdict::Missing: return "does not exist";
    case DevicePathVerdict::NotADevice: return "is not a character device";
    case DevicePathVerdict::CannotCheck: return "cannot be checked";
    case DevicePathVerdict::WhiteSpace: return "begins or ends with white space";
  }
  return nullptr;
}

std::string shownDevicePath(std::string_view path) { return auditQuoted(path); }

}  // namespace zorv
