// --restore: the backup becomes the configuration and the configuration
// the backup, through the same durable steps as a rewrite.
#pragma once

#include "admin/options.h"

namespace zorv {

int restoreBackup(const LongOptions& options);

}  // namespace zorv
