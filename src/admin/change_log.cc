#include "admin/change_log.h"

#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "admin/process_guard.h"
#include "io/escaping.h"

namespace zorv {
namespace {

std::string nameOf(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? entry->pw_name : "";
}

std::string userWithUid(const std::string& name, uid_t uid) {
  const std::string id = "uid " + std::to_string(uid);
  return name.empty() ? id : auditQuoted(name) + " (" + id + ")";
}

// The audit login uid the kernel keeps for the session; no process can
// set it for itself once set. (uid_t)-1 means unset.
bool readLoginUid(uid_t& uid) {
  std::ifstream file("/proc/self/loginuid");
  unsigned long value = 0;
  if (!(file >> value) || value >= 4294967295UL) return false;
  uid = static_cast<uid_t>(value);
  return true;
}

bool sudoAgrees(const CallerFacts& facts) {
  if (facts.setUserId || facts.sudoUser.empty() || !facts.sudoUserKnown || !facts.loginSet) return false;
  return facts.sudoUid == std::to_string(facts.sudoUserUid) && facts.sudoUserUid == facts.loginUid;
}

void logAt(int level, const char* format, std::va_list arguments) {
  ::openlog("zorvadmin", LOG_PID, LOG_AUTHPRIV);
  ::vsyslog(level, format, arguments);
  ::closelog();
}

}  // namespace

std::string auditQuoted(std::string_view value) { return escaped(value, Escaping::SyslogValue); }

std::string describeCaller(const CallerFacts& facts) {
  if (sudoAgrees(facts)) return userWithUid(facts.sudoUser, facts.sudoUserUid) + " via sudo";
  std::string person = userWithUid(facts.realName, facts.realUid);
  if (facts.loginSet && facts.loginUid != facts.realUid) {
    person += " logged in as " + userWithUid(facts.loginName, facts.loginUid);
  }
  return person;
}

std::string invokingPerson() {
  CallerFacts facts;
  // Remembered when the run began: a set-user-ID change makes every id root's.
  facts.realUid = callerUid();
  facts.realName = nameOf(facts.realUid);
  facts.loginSet = readLoginUid(facts.loginUid);
  if (facts.loginSet) facts.loginName = nameOf(facts.loginUid);
  facts.setUserId = runsSetUserId();
  const char* sudoUser = std::getenv("SUDO_USER");
  const char* sudoUid = std::getenv("SUDO_UID");
  facts.sudoUser = sudoUser != nullptr ? sudoUser : "";
  facts.sudoUid = sudoUid != nullptr ? sudoUid : "";
  if (const passwd* entry = facts.sudoUser.empty() ? nullptr : ::getpwnam(sudoUser)) {
    facts.sudoUserKnown = true;
    facts.sudoUserUid = entry->pw_uid;
  }
  return describeCaller(facts);
}

void logChange(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  logAt(LOG_NOTICE, format, arguments);
  va_end(arguments);
}

void logRefusal(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  logAt(LOG_WARNING, format, arguments);
  va_end(arguments);
}

}  // namespace zorv
