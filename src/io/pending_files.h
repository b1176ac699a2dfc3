// The new files of a run that are not yet in place, so that a signal that
// ends the run removes them first.
#pragma once

#include <string>

namespace zorv {

// Notes path as a new file of this run; the slot to forget it by, or -1
// when none is free (the file is then only removed by its owner).
int rememberPending(const std::string& path);
void forgetPending(int slot);

// SIGINT, SIGTERM and SIGHUP remove the new files that are not yet in
// place, then end the run as the signal would have.
void removeNewFilesOnSignals();

}  // namespace zorv
