// The configuration pass: reads the configuration file line by line into
// the run context and, for an add or remove, writes the rewritten file to
// the new-file name at the same time.
#pragma once

#include "admin/context.h"
#include "config/line_io.h"

namespace zorv {

enum class ConfigSection { None = 0, Path = 1, Printer = 2, Ports = 3 };

enum class PassResult {
  Ok,
  FileError,  // reported on standard error; nothing may be rotated
  Refused,    // the rewrite cannot do what was asked; reported on standard error
};

// mode List reads (creating the default file when the file does not exist);
// Add and Remove also write context.files.newFile, which is removed again
// unless the result is Ok.
PassResult runConfigPass(AdminContext& context, AdminCommand mode);

}  // namespace zorv
