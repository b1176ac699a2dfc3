#include "admin/options.h"

namespace zorv {

void parseOptions(int argc, const char* const* argv, AdminContext& context) {
  if (argc < 3) return;
  for (int i = 1; i < argc - 1; ++i) {
    const std::string_view option = std::string_view(argv[i]).substr(0, 2);
    if (option == "-p") {
      context.printerName = argv[i + 1];
      context.command = AdminCommand::Add;
    } else if (option == "-o") {
      context.devicePath = argv[i + 1];
    } else if (option == "-x") {
      context.printerName = argv[i + 1];
      context.command = AdminCommand::Remove;
    }
  }
}

}  // namespace zorv
