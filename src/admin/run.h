// One run of zorvadmin: root check, options, read pass, validation,
// rewrite pass, the new file into place, spooler scan and listing.
#pragma once

namespace zorv {

int runAdmin(int argc, const char* const* argv);

}  // namespace zorv
