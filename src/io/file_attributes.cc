#include "io/file_attributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <string_view>
#include <vector>

namespace zorv {
namespace {

// The extended attribute names of fd, NUL-separated; empty where the file
// system keeps none.
int listAttributeNames(int fd, std::vector<char>& names) {
  const ssize_t size = ::flistxattr(fd, nullptr, 0);
  if (size <= 0) {
    names.clear();
    return (size == 0 || errno == ENOTSUP) ? 0 : -1;
  }
  names.resize(static_cast<std::size_t>(size));
  const ssize_t got = ::flistxattr(fd, names.data(), names.size());
  if (got < 0) return -1;
  names.resize(static_cast<std::size_t>(got));
  return 0;
}

bool hasName(const std::vector<char>& names, std::string_view name) {
  for (std::size_t at = 0; at < names.size(); at += std::string_view(&names[at]).size() + 1) {
    if (std::string_view(&names[at]) == name) return true;
  }
  return false;
}

// What the new file took from its directory (a default ACL becomes its
// access ACL) and the replaced file did not have must not stay: it could
// give another user access to the configuration.
int removeAttributesNotIn(int from, int to) {
  std::vector<char> theirs;
  std::vector<char> ours;
  if (listAttributeNames(from, theirs) != 0 || listAttributeNames(to, ours) != 0) return -1;
  for (std::size_t at = 0; at < ours.size(); at += std::string_view(&ours[at]).size() + 1) {
    const char* name = &ours[at];
    if (!hasName(theirs, name) && ::fremovexattr(to, name) != 0 && errno != ENODATA) return -1;
  }
  return 0;
}

// ACLs and security labels; a file system without them has nothing to copy.
}  // namespace

int copyExtendedAttributes(int from, int to) {
  if (removeAttributesNotIn(from, to) != 0) return -1;
  const ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size <= 0) return (size == 0 || errno == ENOTSUP) ? 0 : -1;
  std::vector<char> names(static_cast<std::size_t>(size));
  const ssize_t got = ::flistxattr(from, names.data(), names.size());
  if (got < 0) return -1;
  for (std::size_t at = 0; at < static_cast<std::size_t>(got); at += std::string_view(&names[at]).size() + 1) {
    const char* name = &names[at];
    const ssize_t length = ::fgetxattr(from, name, nullptr, 0);
    if (length < 0) continue;  // gone since it was listed
    std::vector<char> value(static_cast<std::size_t>(length));
    const ssize_t read = ::fgetxattr(from, name, value.data(), value.size());
    if (read < 0) continue;
    if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(read), 0) != 0 && errno != ENOTSUP) return -1;
  }
  return 0;
}

}  // namespace zorv
