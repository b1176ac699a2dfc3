// One run of zorvadmin: the process settled (descriptors, environment,
// signals), the command line parsed, then the command that the table of
// commands names for it, with the rights its row asks for.
#pragma once

namespace zorv {

int runAdmin(int argc, const char* const* argv);

}  // namespace zorv
