// The exit statuses of a run, and the one mapping from a pass's result to
// them; included by every command that returns one.
//
// The admin layer's convention: a command and each of its steps return an
// exit status (kExitOk or the status of the failure), a small helper that
// is no step returns 0 or -1. A failure is reported once, where it is
// found, through io/problem_report.h, which keeps the reason for the audit
// line; a caller that gets a status other than kExitOk only passes it on.
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
