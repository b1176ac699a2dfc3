// The run context: what the command line asks of one run of zorvadmin.
#pragma once

#include <cstdint>
#include <string_view>

namespace zorv {

enum class AdminCommand : std::int32_t { List = 0, Add = 1, Remove = 2 };

struct AdminContext {
  std::string_view printerName;  // the queue of -p or -x; empty when neither is given
  std::string_view devicePath;   // the device of -o
  AdminCommand command = AdminCommand::List;
};

}  // namespace zorv
