// A change made of a list of edits (--batch, --stable-names), under the
// lock its run holds: planned and checked whole, then written once through
// the one commit, with one backup and one audit line per edit that changes
// something, and the listing of the result.
#pragma once

#include <string>
#include <vector>

#include "admin/locked_read.h"
#include "admin/options.h"
#include "config/edit_list.h"

namespace zorv {

struct EditList {
  std::vector<ConfigEdit> edits;
  // Per edit, what its messages begin with ("FILE:LINE: "); may be empty.
  std::vector<std::string> labels;
};

// The audit line of one edit that changes something, as found before it.
void logEdit(const ConfigEdit& edit, const EditOutcome& outcome, const std::string& config);

// Plans list over the file locked.read has read, then previews (--dry-run),
// leaves every file as it is (nothing changes), or commits; then the
// listing unless --quiet: from locked.read's entries, or, for --tsv without
// --dry-run, from the new file as it is read again (the read under the lock
// then needs to keep no entries); --json's document, with a preview's diff
// even under --quiet, always from locked.read's entries (kept whole).
// Returns the exit status after any message.
// changed: the change was made, so that a later failure is not logged as its refusal.
int commitEditList(const ConfigFiles& files, const EditList& list, const LongOptions& options, AskedQueues& queues,
                   LockedRead& locked, bool& changed);

}  // namespace zorv
