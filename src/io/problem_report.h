// What went wrong, said once: each message about a failure is printed on
// standard error and the last one is kept, so that the audit line of a
// refused or failed change can give the same reason the caller read.
// Warnings and notices go to standard error through here too, kept by none.
#pragma once

#include <string>
#include <string_view>

namespace zorv {

// Prints "zorvadmin: TEXT" and a line break on standard error; keeps TEXT.
void reportProblem(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What is said beside a run that goes on: a warning, "zorvadmin: warning:
// TEXT", or a notice of what is no failure (a change that had nothing to
// do), "zorvadmin: TEXT". Neither is kept.
enum class Aside { Warning, Notice };
void reportAside(Aside kind, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Prints line as it is, with a line break, and keeps it: for a message
// whose words scripts know without the "zorvadmin: " before them.
void reportProblemAsIs(std::string_view line);

// Keeps text as the reason without printing it, for a refusal whose
// message is printed elsewhere (or in other words).
void noteProblem(std::string text);

// The last reason kept; empty when none was.
std::string_view lastProblem();

}  // namespace zorv
