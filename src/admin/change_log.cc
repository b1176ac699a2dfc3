#include "admin/change_log.h"

#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <string>

namespace zorv {

std::string_view invokingUser() {
  static std::string user;
  if (!user.empty()) return user;
  // A set-user-ID caller sets its own environment: its SUDO_USER says nothing.
  const char* sudoUser = ::getuid() == ::geteuid() ? std::getenv("SUDO_USER") : nullptr;
  if (sudoUser != nullptr && sudoUser[0] != '\0') {
    user = sudoUser;
  } else if (const passwd* entry = ::getpwuid(::getuid())) {
    user = entry->pw_name;
  } else {
    user = "uid " + std::to_string(::getuid());
  }
  return user;
}

void logChange(const char* format, ...) {
  ::openlog("zorvadmin", LOG_PID, LOG_AUTHPRIV);
  std::va_list arguments;
  va_start(arguments, format);
  ::vsyslog(LOG_NOTICE, format, arguments);
  va_end(arguments);
  ::closelog();
}

}  // namespace zorv
