// What went wrong, said once: each message is printed on standard error
// and the last one is kept, so that the audit line of a refused or failed
// change can give the same reason the caller read.
#pragma once

#include <string>
#include <string_view>

namespace zorv {

// Prints "zorvadmin: TEXT" and a line break on standard error; keeps TEXT.
void reportProblem(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Keeps text as the reason without printing it, for a refusal whose
// message is printed elsewhere (or in other words).
void noteProblem(std::string text);

// The last reason kept; empty when none was.
std::string_view lastProblem();

}  // namespace zorv
