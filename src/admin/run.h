// One run of zorvadmin: root check, options, read pass, validation,
// rewrite pass, the new file into place, spooler scan and listing.
#pragma once

namespace zorv {

enum ExitStatus : int {
  kExitOk = 0,
  kExitNotRoot = 1,
  kExitRefused = 2,    // the request was refused; nothing changed
  kExitFileError = 3,  // a file could not be read or written; see the message for whether the change was made
  kExitSchedulerDown = 4,  // a change needed the scheduler's answer and could not ask; nothing changed
};

int runAdmin(int argc, const char* const* argv);

}  // namespace zorv
