// --batch FILE: a list of changes made as one, or not at all.
#pragma once

#include "admin/options.h"

namespace zorv {

// Runs --batch as root; returns the exit status.
int runBatch(const LongOptions& options);

}  // namespace zorv
