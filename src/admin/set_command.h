// --set KEY VALUE: one of the three settings changed, its one line and
// nothing else, with the same lock, backup, no-op rule, syslog line and
// preview as an entry.
#pragma once

#include "admin/options.h"

namespace zorv {

// Why value cannot be key's value, or null when it can: a port is a number
// from 1 to 65535, a path is absolute; an unknown key is refused too.
const char* settingProblem(std::string_view key, std::string_view value);

// Runs --set as root; returns the exit status.
int runSet(const LongOptions& options);

}  // namespace zorv
