#include "admin/process_guard.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "admin/run.h"

extern char** environ;

namespace zorv {
namespace {

bool gStandardOutputClosed = false;  // descriptor 1 was closed when the run began

}  // namespace

bool runsSetUserId() { return ::getuid() != ::geteuid() || ::getgid() != ::getegid(); }

void forgetCallersEnvironment() {
  if (!runsSetUserId()) return;
  std::vector<std::string> names;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable = *entry;
    const std::string name(variable.substr(0, variable.find('=')));
    if (name.rfind("CUPS_", 0) == 0 || name == "IPP_PORT" || name == "LPDEST" || name == "PRINTER") {
      names.push_back(name);
    }
  }
  for (const std::string& name : names) ::unsetenv(name.c_str());
  const passwd* owner = ::getpwuid(::geteuid());
  ::setenv("HOME", owner != nullptr ? owner->pw_dir : "/", 1);
}

int giveUpSetUserId() {
  const uid_t user = ::getuid();
  const gid_t group = ::getgid();
  if (user == ::geteuid() && group == ::getegid()) return 0;
  // Group first: without the user's privilege the group could not be changed.
  uid_t real = 0, effective = 0, saved = 0;
  gid_t realGroup = 0, effectiveGroup = 0, savedGroup = 0;
  if (::setresgid(group, group, group) != 0 || ::setresuid(user, user, user) != 0 ||
      ::getresuid(&real, &effective, &saved) != 0 || ::getresgid(&realGroup, &effectiveGroup, &savedGroup) != 0) {
    std::fprintf(stderr, "zorvadmin: cannot give up the set-user-ID privilege: %s\n", std::strerror(errno));
    return -1;
  }
  if (real != user || effective != user || saved != user || realGroup != group || effectiveGroup != group ||
      savedGroup != group) {
    std::fprintf(stderr, "zorvadmin: cannot give up the set-user-ID privilege\n");
    return -1;
  }
  return 0;
}

void openClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == 1) gStandardOutputClosed = true;
    if (::open("/dev/null", O_RDWR) != fd) std::abort();
  }
}

int closeStandardOutput(int status) {
  if (gStandardOutputClosed) errno = EBADF;
  if (!gStandardOutputClosed && std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "zorvadmin: cannot write standard output: %s\n", std::strerror(errno));
  return kExitFileError;
}

}  // namespace zorv
