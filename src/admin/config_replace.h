// The one way a command changes the configuration: the rewrite into a new
// file of the run's own, then the new file into place keeping the backup;
// or, for a preview or a change that changes nothing, the same rewrite into
// memory only.
#pragma once

#include <functional>
#include <string>

#include "config/config_pass.h"
#include "io/new_file.h"

namespace zorv {

// The audit lines of one change: made records it and is sent before the
// change is committed; failed follows when the commit then fails.
struct ChangeLines {
  std::function<void()> made;
  std::function<void()> failed;
};

// Moves file over files.config keeping the backup, with lines, as one step
// that SIGINT, SIGTERM, SIGHUP and SIGQUIT cannot interrupt: a signal that
// arrives meanwhile acts once the step is over, when nothing of it is left
// to remove. 0, or -1 after the report and the failure line.
int commitWithLines(NewFile& file, const ConfigFiles& files, const ChangeLines& lines);

// Whether a commit of this run failed after its line was sent; its failure
// line was sent then, and the run's refusal line would say it again.
bool commitFailureLogged();

enum class Replacing { Replace, Preview, NothingToChange };

// Runs request over files.config (input: the file open for reading, or -1
// to open it). Replace: writes and moves the new file
// into place with lines (see commitWithLines), unless no byte changed; Preview: prints
// the change as a diff; NothingToChange: leaves every file as it is. shown
// gets the entries and settings as the new file has them. Returns the exit
// status, after reporting any failure.
int rewriteConfiguration(const ConfigFiles& files, const RewriteRequest& request, QueueDirectory& queues,
                         Replacing replacing, ConfigContent& shown, const ChangeLines& lines, int input = -1);

}  // namespace zorv
