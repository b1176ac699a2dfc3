// The classic parser, as it always was (scripts rely on it), and the words
// it passes over, so that a caller is told what it did not read.
#include <string>
#include <string_view>
#include <vector>

#include "admin/options.h"
#include "io/escaping.h"

namespace zorv {
namespace {

bool isClassicOption(std::string_view argument) {
  const std::string_view option = argument.substr(0, 2);
  return option == "-p" || option == "-o" || option == "-x";
}

std::string shown(std::string_view argument) { return escaped(argument, Escaping::TerminalText); }

const char* operandWord(std::string_view option) { return option == "-o" ? "device path" : "queue name"; }

}  // namespace

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

std::vector<std::string> classicNotes(int argc, const char* const* argv) {
  std::vector<std::string> notes;
  std::vector<bool> read(static_cast<std::size_t>(argc > 0 ? argc : 0), false);
  // The same positions parseOptions examines: every one but the last.
  for (int i = 1; i < argc - 1; ++i) {
    const std::string_view argument = argv[i];
    if (!isClassicOption(argument)) continue;
    const std::string_view option = argument.substr(0, 2);
    read[static_cast<std::size_t>(i)] = read[static_cast<std::size_t>(i) + 1] = true;
    if (argument.size() > 2) notes.push_back(shown(argument) + " is read as " + std::string(option) + ": " +
                                             shown(argument.substr(2)) + " is ignored");
    if (isClassicOption(argv[i + 1])) {
      notes.push_back(std::string(option) + " takes " + shown(argv[i + 1]) + " as its " + operandWord(option));
    }
  }
  for (int i = 1; i < argc; ++i) {
    if (read[static_cast<std::size_t>(i)]) continue;
    const char* why =
        isClassicOption(argv[i]) ? "no word follows it" : "only -p, -o and -x are read, each with the word after it";
    notes.push_back(shown(argv[i]) + " is ignored: " + why);
  }
  AdminContext context;
  parseOptions(argc, argv, context);
  if (context.command != AdminCommand::Add && !context.devicePath.empty()) {
    notes.push_back("-o " + shown(context.devicePath) + " is ignored: a device path goes only with -p");
  }
  return notes;
}

}  // namespace zorv
