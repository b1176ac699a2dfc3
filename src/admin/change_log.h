// One syslog line for every change, as cupsd logs its printer changes: who
// made it and what changed, or why it was refused or failed. Values are
// quoted so that none can make a line ambiguous or forge another.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace zorv {

// A value as the log shows it: as it is when it is made only of letters,
// digits and "/._-+:@%,=~^" (or bytes past ASCII), else in single quotes
// with ', \ and control characters written \', \\ and \xNN
// (Escaping::SyslogValue).
std::string auditQuoted(std::string_view value);

// What the person behind a run is told from.
struct CallerFacts {
  uid_t realUid = 0;
  std::string realName;  // empty when the user database has none
  bool loginSet = false;  // the audit login uid is set
  uid_t loginUid = 0;
  std::string loginName;
  bool setUserId = false;
  std::string sudoUser;     // SUDO_USER, when set
  std::string sudoUid;      // SUDO_UID, when set
  bool sudoUserKnown = false;  // the user database has SUDO_USER
  uid_t sudoUserUid = 0;       // then, its uid
};

// "alice (uid 1000) via sudo" when SUDO_USER agrees with SUDO_UID and the
// login uid (never in a set-user-ID run); else the real user, and the
// login user when another: "root (uid 0) logged in as alice (uid 1000)".
std::string describeCaller(const CallerFacts& facts);

// The run's caller, from its real uid, /proc/self/loginuid and SUDO_*.
std::string invokingPerson();

// Facility LOG_AUTHPRIV (a change to a root-owned configuration is an
// administrative act, kept where sudo and su log theirs): level notice
// for a change made, warning for one refused or failed.
void logChange(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logRefusal(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zorv
