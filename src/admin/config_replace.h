// The one way a command changes the configuration: the rewrite into a new
// file of the run's own, then the new file into place keeping the backup;
// or, for a preview or a change that changes nothing, the same rewrite into
// memory only.
#pragma once

#include <functional>
#include <string>

#include "config/config_pass.h"

namespace zorv {

int exitStatusFor(PassResult result);

enum class Replacing { Replace, Preview, NothingToChange };

// Runs request over files.config. Replace: writes and moves the new file
// into place and calls onReplaced, unless no byte changed; Preview: prints
// the change as a diff; NothingToChange: leaves every file as it is. shown
// gets the entries and settings as the new file has them. Returns the exit
// status, after reporting any failure.
int rewriteConfiguration(const ConfigFiles& files, const RewriteRequest& request, QueueDirectory& queues,
                         Replacing replacing, ConfigContent& shown, const std::function<void()>& onReplaced);

}  // namespace zorv
