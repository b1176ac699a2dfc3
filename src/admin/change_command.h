// The classic commands: the listing, and -p/-o (add or modify) and -x
// (remove) with their preview, through the one rewrite-and-replace.
#pragma once

#include "admin/context.h"
#include "admin/options.h"

namespace zorv {

// Runs one classic command; returns the exit status. A listing that may
// not create the configuration only reads (--tsv): no root, no lock file.
int runClassic(const AdminContext& context, const LongOptions& options, bool mayCreateConfig);

// The listing of the configuration as it is now (after --restore).
int listConfiguration(const LongOptions& options);

}  // namespace zorv
