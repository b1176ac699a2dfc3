// One run of zorvadmin: root check, options, read pass, validation,
// rewrite pass, rotation, spooler scan and listing.
#pragma once

namespace zorv {

enum ExitStatus : int {
  kExitOk = 0,
  kExitNotRoot = 1,
  kExitRefused = 2,    // the request was refused; nothing changed
  kExitFileError = 3,  // a file could not be read or written; nothing changed
};

int runAdmin(int argc, const char* const* argv);

}  // namespace zorv
