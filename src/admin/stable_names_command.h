// --stable-names: every entry whose device path can move to another
// printer (a kernel name, a by-id name several printers claim) rewritten to
// its printer's stable name, as one change.
#pragma once

#include "admin/options.h"

namespace zorv {

// Runs --stable-names as root; returns the exit status.
int runStableNames(const LongOptions& options);

}  // namespace zorv
