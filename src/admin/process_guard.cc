#include "admin/process_guard.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "admin/exit_status.h"
#include "io/problem_report.h"

extern char** environ;

namespace zorv {
namespace {

bool gStandardOutputClosed = false;  // descriptor 1 was closed when the run began

struct CallerIds {
  uid_t user;
  gid_t group;
  bool setUserId;
};

const CallerIds& callerIds() {
  static const CallerIds ids{::getuid(), ::getgid(), ::getuid() != ::geteuid() || ::getgid() != ::getegid()};
  return ids;
}

// Every user id to user and every group id to group, group first (without
// the user's privilege the group could not be changed), and read back.
// -1 with errno, or with errno 0 when the ids read back are others.
int setEveryId(uid_t user, gid_t group) {
  uid_t real = 0, effective = 0, saved = 0;
  gid_t realGroup = 0, effectiveGroup = 0, savedGroup = 0;
  if (::setresgid(group, group, group) != 0 || ::setresuid(user, user, user) != 0 ||
      ::getresuid(&real, &effective, &saved) != 0 || ::getresgid(&realGroup, &effectiveGroup, &savedGroup) != 0) {
    return -1;
  }
  errno = 0;
  const bool all = real == user && effective == user && saved == user && realGroup == group &&
                   effectiveGroup == group && savedGroup == group;
  return all ? 0 : -1;
}

int reportIdFailure(const char* what) {
  if (errno != 0) {
    reportProblem("cannot %s: %s", what, std::strerror(errno));
  } else {
    reportProblem("cannot %s", what);
  }
  return -1;
}

// The file-system ids read back (an invalid id changes nothing).
bool fileSystemIdsAre(uid_t user, gid_t group) {
  return static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == user &&
         static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == group;
}

}  // namespace

void rememberCaller() { callerIds(); }

bool runsSetUserId() { return callerIds().setUserId; }

uid_t callerUid() { return callerIds().user; }

gid_t callerGid() { return callerIds().group; }

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
  return setEveryId(user, group) == 0 ? 0 : reportIdFailure("give up the set-user-ID privilege");
}

int shutOutCaller() {
  if (!runsSetUserId()) return 0;
  // Only a run whose effective user is root gets here.
  return setEveryId(0, 0) == 0 ? 0 : reportIdFailure("set every user and group id to root");
}

bool withCallersRights(const std::function<void()>& step) {
  if (!runsSetUserId()) {
    step();
    return true;
  }
  const auto group = static_cast<gid_t>(::setfsgid(callerGid()));
  const auto user = static_cast<uid_t>(::setfsuid(callerUid()));
  const bool taken = fileSystemIdsAre(callerUid(), callerGid());
  if (taken) step();
  ::setfsuid(user);
  ::setfsgid(group);
  // Root's rights back, or every later file operation would be the caller's.
  if (!fileSystemIdsAre(user, group)) std::abort();
  return taken;
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
  reportProblem("cannot write standard output: %s", std::strerror(errno));
  return kExitFileError;
}

}  // namespace zorv
