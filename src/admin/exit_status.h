// The exit statuses of a run, and the one mapping from a pass's result to
// them; included by every command that returns one.
#pragma once

#include "config/config_pass.h"

namespace zorv {

enum ExitStatus : int {
  kExitOk = 0,
  kExitNotRoot = 1,
  kExitRefused = 2,    // the request was refused; nothing changed
  kExitFileError = 3,  // a file could not be read or written; see the message for whether the change was made
  kExitSchedulerDown = 4,  // a change needed the scheduler's answer and could not ask; nothing changed
};

inline int exitStatusFor(PassResult result) {
  switch (result) {
    case PassResult::Ok: return kExitOk;
    case PassResult::Refused: return kExitRefused;
    case PassResult::FileError: return kExitFileError;
  }
  return kExitFileError;
}

}  // namespace zorv
