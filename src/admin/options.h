// Command-line parsing into the run context.
#pragma once

#include "admin/context.h"

namespace zorv {

// Every position but the last is examined, in steps of one, by its first
// two characters: "-p" and "-x" take the next argument as the queue name
// (add and remove), "-o" as the device path. A later option wins.
void parseOptions(int argc, const char* const* argv, AdminContext& context);

}  // namespace zorv
