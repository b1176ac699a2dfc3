// Runs a program with its own /dev/log: a datagram socket of the test's,
// bound over /dev/log inside a private mount namespace, so every syslog line
// the program writes is captured and the host's logging is never touched.
// Needs root (CAP_SYS_ADMIN) for the namespace.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/process.h"

namespace zorv::test {

struct SyslogRun {
  RunResult result;
  std::vector<std::string> messages;  // raw datagrams in arrival order, e.g. "<85>Dec  7 10:00:00 zorvadmin: ..."
};

// Like runProgram, with the program's syslog lines collected.  Throws
// std::runtime_error when the private /dev/log cannot be set up (the message
// says why), so a test can tell that apart from the program's own failure.
SyslogRun runCapturingSyslog(const std::vector<std::string>& command,
                             const std::map<std::string, std::string>& env = {});

// One syslog line as the C library writes it to /dev/log:
// "<PRI>Mmm dd hh:mm:ss TAG: TEXT", TAG being the ident, maybe with "[PID]".
struct SyslogMessage {
  int facility = 0;  // as the LOG_* facility constants: LOG_AUTHPRIV is 10 << 3
  int level = 0;     // LOG_EMERG .. LOG_DEBUG
  std::string timestamp;
  std::string ident;
  std::optional<long> pid;
  std::string text;
};

// nullopt when raw is not in that form.
std::optional<SyslogMessage> parseSyslogMessage(const std::string& raw);

}  // namespace zorv::test
