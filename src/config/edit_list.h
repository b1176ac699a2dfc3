// A change made of several edits (add or modify an entry, remove one, set a
// setting) planned as one: each edit is the same rewrite a single -p, -x or
// --set run makes, applied to the bytes the edits before it left, so the
// result is byte for byte the same as those runs one after another. The
// bytes between edits live in memory files, never in the process's heap.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/config_pass.h"
#include "io/file_descriptor.h"

namespace zorv {

// One edit; the strings are owned by the caller and must outlive the plan.
struct ConfigEdit {
  RewriteMode mode = RewriteMode::Add;
  std::string_view queue;   // Add: as the scheduler spells it; Remove: as given
  std::string_view device;  // Add
  std::string_view key;     // SetValue
  std::string_view value;   // SetValue
};

// What an edit found before it was made, for its audit line.
struct EditOutcome {
  bool changes = false;  // false: it would leave every byte's meaning as it is, and is skipped
  bool hadBlock = false;        // Add, Remove: the file had a block of the queue
  std::string previous;         // Add, Remove: the device path of its first block; SetValue: the value
  bool previousPresent = false; // SetValue: the file had a line for the key
};

// What the edit would find in read: an add whose every block already has
// the spelling and the device path, a remove of a queue without a block, or
// a setting already set to the value changes nothing.
EditOutcome outcomeOf(const ConfigEdit& edit, const ConfigRead& read);

struct EditPlan {
  PassResult result = PassResult::Ok;
  std::size_t refusedEdit = 0;  // when result is not Ok: the edit refused or failed, reported on standard error
  std::vector<EditOutcome> outcomes;  // one per edit, when result is Ok
  // The last edit that changes something, as a request whose inputFd holds
  // the bytes the edits before it left (or -1: files.config); the caller
  // makes it again through its commit, which writes the final bytes once.
  bool changesAnything = false;
  RewriteRequest last;
  FileDescriptor lastInput;
};

// Plans edits over files.config (read as its last read saw it): reads and
// rewrites, each into a memory file, in order. keeping goes into the last request.
EditPlan planEdits(const ConfigFiles& files, const std::vector<ConfigEdit>& edits, EntryKeeping keeping);

}  // namespace zorv
