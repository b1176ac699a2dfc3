// One syslog line for every change that went through, as cupsd logs its
// printer changes: who made it and what changed.
#pragma once

#include <string_view>

namespace zorv {

// The invoking user: SUDO_USER when set (never in a set-user-ID run), else
// the real user's name.
std::string_view invokingUser();

// Facility LOG_AUTHPRIV (a change to a root-owned configuration is an
// administrative act, kept where sudo and su log theirs), level notice.
void logChange(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zorv
