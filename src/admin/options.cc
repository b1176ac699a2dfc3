#include "admin/options.h"

#include <cstdio>
#include <string>

namespace zorv {
namespace {

bool takesValue(std::string_view argument, std::string_view name, std::string_view& value) {
  if (argument.substr(0, name.size()) != name) return false;
  if (argument.size() == name.size()) return true;
  if (argument[name.size()] != '=') return false;
  value = argument.substr(name.size() + 1);
  return true;
}

bool setMode(LongOptions& options, RunMode mode) {
  if (options.mode != RunMode::Classic && options.mode != mode) return false;
  options.mode = mode;
  return true;
}

// One long option at argv[i]; i moves past an operand it takes.
bool parseLongOption(int argc, const char* const* argv, int& i, LongOptions& options, const char** problem) {
  const std::string_view argument = argv[i];
  const auto nextOperand = [&](bool optional) -> const char* {
    if (i + 1 >= argc || (optional && argv[i + 1][0] == '-')) return nullptr;
    return argv[++i];
  };
  std::string_view value;
  if (argument == "--dry-run") return options.dryRun = true;
  if (argument == "--tsv") return options.tsv = true;
  if (argument == "--quiet") return options.quiet = true;
  if (argument == "--restore") return setMode(options, RunMode::Restore);
  if (argument == "--devices") return setMode(options, RunMode::Devices);
  if (argument == "--help") return setMode(options, RunMode::Help);
  if (argument == "--version") return setMode(options, RunMode::Version);
  if (takesValue(argument, "--check", value)) {
    if (value.empty() && argument.size() == 7) {
      if (const char* file = nextOperand(true)) value = file;
    }
    options.checkFile = value;
    return setMode(options, RunMode::Check);
  }
  if (takesValue(argument, "--get", value)) {
    if (value.empty() && argument.size() == 5) {
      const char* queue = nextOperand(false);
      if (queue == nullptr) return (*problem = "--get needs a queue name", false);
      value = queue;
    }
    options.getQueue = value;
    return setMode(options, RunMode::Get);
  }
  static std::string unknown;  // outlives the call, for the caller's message
  unknown = "unknown option " + std::string(argument);
  *problem = unknown.c_str();
  return false;
}

bool hasClassicChange(const std::vector<const char*>& classic) {
  AdminContext context;
  parseOptions(static_cast<int>(classic.size()), classic.data(), context);
  return context.command != AdminCommand::List;
}

// Options that cannot go together: checks, lookups and restores take no
// classic arguments, and a preview or a quiet run needs a change to make.
const char* conflictIn(const ParsedCommandLine& parsed) {
  const LongOptions& options = parsed.options;
  const bool classicArguments = parsed.classicArguments.size() > 1;
  const bool change = hasClassicChange(parsed.classicArguments);
  switch (options.mode) {
    case RunMode::Check:
    case RunMode::Get:
      if (classicArguments || options.dryRun || options.quiet || options.tsv) {
        return "--check and --get cannot go with other options";
      }
      return nullptr;
    case RunMode::Devices:
      if (classicArguments || options.dryRun || options.quiet) return "--devices goes only with --tsv";
      return nullptr;
    case RunMode::Restore:
      if (classicArguments || options.dryRun) return "--restore cannot go with a change";
      return nullptr;
    case RunMode::Help:
    case RunMode::Version:
      // Alone only: "--help -x Q" must not quietly remove Q.
      if (classicArguments || options.dryRun || options.quiet || options.tsv) {
        return "--help and --version cannot go with other options";
      }
      return nullptr;
    case RunMode::Classic:
      if ((options.dryRun || options.quiet) && !change) return "--dry-run and --quiet need -p or -x";
      return nullptr;
  }
  return nullptr;
}

}  // namespace

void printUsage(std::FILE* out) {
  std::fprintf(out, "\nUsage: \n");
  std::fprintf(out, "  zorvadmin [-p Printer-name -o Printer-dev-path]\n");
  std::fprintf(out, "  zorvadmin [-x Remove-Printer-name]\n\n");
}

void printHelp() {
  printUsage(stdout);
  std::printf("  -p QUEUE        add QUEUE, or change the device path of its entry; needs -o\n");
  std::printf("  -o DEVICE       the printer device path for -p, such as /dev/usb/lp0\n");
  std::printf("  -x QUEUE        remove the entry of QUEUE\n");
  std::printf("  --help          print this help and exit\n");
  std::printf("  --version       print the version and exit\n");
  std::printf("Long options come first, before -p, -o and -x:\n");
  std::printf("  --check [FILE]  check the configuration (or FILE) and change nothing (since 1.1)\n");
  std::printf("  --dry-run       with -p or -x: show the change as a diff and make none (since 1.1)\n");
  std::printf("  --tsv           list for scripts, tab-separated, every entry (since 1.1)\n");
  std::printf("  --get QUEUE     print the device path of QUEUE's entry (since 1.1)\n");
  std::printf("  --quiet         with -p or -x: no listing on success (since 1.1)\n");
  std::printf("  --restore       put the backup back; the configuration becomes the backup (since 1.1)\n");
  std::printf("  --devices       list the printer devices, their stable names and the entries that lead\n"
              "                  to each; with --tsv for scripts (since 1.2)\n");
}

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

ParsedCommandLine parseCommandLine(int argc, const char* const* argv, const char** problem) {
  ParsedCommandLine parsed;
  parsed.classicArguments.push_back(argv[0]);
  int i = 1;
  for (; i < argc && std::string_view(argv[i]).substr(0, 2) == "--"; ++i) {
    if (std::string_view(argv[i]) == "--") {
      ++i;
      break;
    }
    if (!parseLongOption(argc, argv, i, parsed.options, problem)) {
      parsed.usable = false;
      return parsed;
    }
  }
  for (; i < argc; ++i) parsed.classicArguments.push_back(argv[i]);
  parsed.classicArguments.push_back(nullptr);
  parsed.classicArguments.pop_back();
  if (const char* conflict = conflictIn(parsed)) {
    *problem = conflict;
    parsed.usable = false;
  }
  return parsed;
}

}  // namespace zorv
