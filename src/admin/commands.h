// The table of commands: each thing a run can be asked to do is one row,
// with what it needs of the process before it starts and the function that
// does it. A new command is a row here and a file of its own.
#pragma once

#include <string_view>

#include "admin/context.h"
#include "admin/options.h"

namespace zorv {

// What a command is given: the long options and the classic ones.
struct CommandRequest {
  const LongOptions& options;
  const AdminContext& context;
  bool bare = false;             // the command line had no argument at all
  bool mayCreateConfig = false;  // the row's word: a missing configuration may be created
};

struct Command {
  std::string_view name;
  bool needsRoot;         // refused with status 1 unless run as root
  bool givesUpSetUserId;  // a set-user-ID privilege is given up before anything is opened
  bool mayCreateConfig;   // a missing configuration may be created from the default
  int (*run)(const CommandRequest& request);  // returns the exit status
};

// The row of the command that options and context ask for.
const Command& commandFor(const LongOptions& options, const AdminContext& context);

}  // namespace zorv
