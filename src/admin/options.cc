#include "admin/options.h"

#include <array>
#include <cstdio>
#include <string>

#include "io/escaping.h"

namespace zorv {
namespace {

enum class Operand { None, Optional, Required, Pair };

// The options that may stand beside one another, as bits.
enum OptionBit : unsigned { kDryRun = 1, kTsv = 2, kQuiet = 4, kStrict = 8, kJson = 16, kConfig = 32 };

struct LongOptionSpec {
  std::string_view name;
  Operand operand;
  RunMode mode;       // Classic for the options that only change how a run goes
  unsigned bit;       // for those: their bit
  unsigned goesWith;  // for a mode: the bits it may be given with
  const char* help;   // its line in --help
};

constexpr const char* kGetNeedsQueue = "--get needs a queue name";
constexpr const char* kSetNeedsPair = "--set needs a setting and its value";

constexpr const char* kBatchNeedsFile = "--batch needs a file";
constexpr const char* kJsonOrTsv = "--json and --tsv cannot go together";

constexpr std::array<LongOptionSpec, 15> kLongOptions = {{
    {"--help", Operand::None, RunMode::Help, 0, 0, "  --help          print this help and exit\n"},
    {"--version", Operand::None, RunMode::Version, 0, 0, "  --version       print the version and exit\n"},
    {"--check", Operand::Optional, RunMode::Check, 0, kStrict | kJson,
     "  --check [FILE]  check the configuration (or FILE) and change nothing (since 1.1)\n"},
    {"--config", Operand::Required, RunMode::Classic, kConfig, 0,
     "  -f FILE, --config FILE\n"
     "                  administer FILE instead of /etc/zorv.conf, as ZORV_CONF does; ignored\n"
     "                  in a set-user-ID run (since 1.3)\n"},
    {"--strict", Operand::None, RunMode::Classic, kStrict, 0,
     "  --strict        with --check: warnings count as errors (since 1.2)\n"},
    {"--dry-run", Operand::None, RunMode::Classic, kDryRun, 0,
     "  --dry-run       with -p, -x or --set: show the change as a diff and make none (since 1.1)\n"},
    {"--tsv", Operand::None, RunMode::Classic, kTsv, 0,
     "  --tsv           list for scripts, tab-separated, every entry (since 1.1); without -p\n"
     "                  or -x it only reads, needs no root and creates nothing (since 1.2)\n"},
    {"--json", Operand::None, RunMode::Classic, kJson, 0,
     "  --json          as --tsv (also after --batch or --stable-names), or with --check,\n"
     "                  but one JSON document for scripts (since 1.3)\n"},
    {"--get", Operand::Required, RunMode::Get, 0, 0,
     "  --get QUEUE     print the device path of QUEUE's entry (since 1.1)\n"},
    {"--quiet", Operand::None, RunMode::Classic, kQuiet, 0,
     "  --quiet         with -p, -x, --set or --restore: no listing on success (since 1.1)\n"},
    {"--restore", Operand::None, RunMode::Restore, 0, kTsv | kJson | kQuiet,
     "  --restore       put the backup back; the configuration becomes the backup (since 1.1)\n"},
    {"--set", Operand::Pair, RunMode::Set, 0, kDryRun | kTsv | kJson | kQuiet,
     "  --set KEY VALUE change the setting UI_Port, LogDirectoryPath or CUPS_ConfigPath (since 1.2)\n"},
    {"--devices", Operand::None, RunMode::Devices, 0, kTsv | kJson,
     "  --devices       list the printer devices, their stable names and the entries that lead\n"
     "                  to each; for scripts with --tsv (since 1.2) or --json (since 1.3)\n"},
    {"--batch", Operand::Required, RunMode::Batch, 0, kDryRun | kTsv | kJson | kQuiet,
     "  --batch FILE    make the changes listed in FILE (- for standard input), one a line:\n"
     "                  add QUEUE DEVICE, remove QUEUE, set KEY VALUE; all as one change,\n"
     "                  or none if any line is refused (since 1.3)\n"},
    {"--stable-names", Operand::None, RunMode::StableNames, 0, kDryRun | kTsv | kJson | kQuiet,
     "  --stable-names  move every entry on a kernel name, or on a by-id name that several\n"
     "                  printers claim, to its printer's stable name, as one change (since 1.3)\n"},
}};

// --help and --version are listed with the classic options, before the
// line that introduces the others.
constexpr std::size_t kListedWithClassic = 2;

const LongOptionSpec* specFor(std::string_view argument, std::string_view& value) {
  for (const LongOptionSpec& row : kLongOptions) {
    if (argument == row.name) return &row;
    const bool attachable = row.operand == Operand::Optional || row.operand == Operand::Required;
    const bool withValue = attachable && argument.size() > row.name.size() &&
                           argument.substr(0, row.name.size()) == row.name && argument[row.name.size()] == '=';
    if (!withValue) continue;
    value = argument.substr(row.name.size() + 1);
    return &row;
  }
  return nullptr;
}

struct Parser {
  Parser(int count, const char* const* arguments) : argc(count), argv(arguments) {}

  int argc;
  const char* const* argv;
  int at = 1;
  ParsedCommandLine parsed;
  unsigned given = 0;  // the bits of the options given
  std::vector<const LongOptionSpec*> flags;  // the options given that only change how a run goes, in order
  const LongOptionSpec* modeRow = nullptr;   // the one that says what the run does
  bool checkFileLater = false;  // --check took no file; one may follow --strict

  bool fail(std::string problem) {
    parsed.usable = false;
    parsed.problem = std::move(problem);
    return false;
  }

  // The operand of the option at argv[at], which moves past it.
  std::string_view operand(const LongOptionSpec& row, std::string_view value, bool attached) {
    if (attached || row.operand == Operand::None || at + 1 >= argc) return value;
    if (row.operand == Operand::Optional && argv[at + 1][0] == '-') return value;
    return argv[++at];
  }

  // --set KEY VALUE: the two arguments that follow it.
  bool takePair(LongOptions& options) {
    if (at + 2 >= argc) return fail(kSetNeedsPair);
    options.setKey = argv[++at];
    options.setValue = argv[++at];
    return true;
  }

  bool take(const LongOptionSpec& row, std::string_view value, bool attached) {
    if (row.operand == Operand::Pair && !takePair(parsed.options)) return false;
    const std::string_view taken = row.operand == Operand::Pair ? std::string_view() : operand(row, value, attached);
    if (row.operand == Operand::Required && taken.empty() && !attached) {
      if (row.bit == kConfig) return fail(std::string(argv[at]) + " needs a file");
      return fail(row.mode == RunMode::Batch ? kBatchNeedsFile : kGetNeedsQueue);
    }
    given |= row.bit;
    if (row.bit == kConfig) parsed.options.configFile = taken;
    if (row.mode == RunMode::Classic) {
      flags.push_back(&row);
      return true;
    }
    LongOptions& options = parsed.options;
    if (modeRow != nullptr && modeRow->mode != row.mode) {
      return fail(std::string(modeRow->name) + " and " + std::string(row.name) + " cannot go together");
    }
    modeRow = &row;
    options.mode = row.mode;
    if (row.mode == RunMode::Check) {
      options.checkFile = taken;
      checkFileLater = !attached && taken.empty();
    }
    if (row.mode == RunMode::Get) options.getQueue = taken;
    if (row.mode == RunMode::Batch) options.batchFile = taken;
    return true;
  }

  bool longOption() {
    const std::string_view argument = argv[at];
    std::string_view value;
    // -f is --config's short name, as visudo and sshd spell it.
    const LongOptionSpec* row = specFor(argument == "-f" ? "--config" : argument, value);
    if (argument == "-f") return take(*row, value, false);
    if (row == nullptr) return fail("unknown option " + std::string(argument));
    return take(*row, value, argument.size() > row->name.size());
  }
};

bool hasClassicChange(const std::vector<const char*>& classic) {
  AdminContext context;
  parseOptions(static_cast<int>(classic.size()), classic.data(), context);
  return context.command != AdminCommand::List;
}

// What a flag given without a mode needs; null when it needs nothing.
const char* needOf(unsigned bit) {
  switch (bit) {
    case kStrict: return "goes only with --check";
    case kDryRun: return "needs a change: -p, -x or --set";
    case kQuiet: return "needs a change: -p, -x, --set or --restore";
    default: return nullptr;
  }
}

// What the table says of the options given together, in words that name
// them; empty when they may go together.
std::string conflictIn(const ParsedCommandLine& parsed, const Parser& parser) {
  if ((parser.given & kTsv) != 0 && (parser.given & kJson) != 0) return kJsonOrTsv;
  if (parser.modeRow == nullptr) {
    const bool change = hasClassicChange(parsed.classicArguments);
    for (const LongOptionSpec* flag : parser.flags) {
      const char* need = needOf(flag->bit);
      if (need != nullptr && (flag->bit == kStrict || !change)) return std::string(flag->name) + " " + need;
    }
    return {};
  }
  const LongOptionSpec& mode = *parser.modeRow;
  const bool standsAlone = mode.mode == RunMode::Help || mode.mode == RunMode::Version;
  for (const LongOptionSpec* flag : parser.flags) {
    // The file to administer goes with every command that has one.
    if (flag->bit == kConfig && !standsAlone) continue;
    if ((flag->bit & ~mode.goesWith) != 0) return std::string(mode.name) + " cannot go with " + std::string(flag->name);
  }
  if (parsed.classicArguments.size() < 2) return {};
  const std::string argument = escaped(parsed.classicArguments[1], Escaping::TerminalText);
  if (argument.empty() || argument[0] != '-') {
    return "unexpected argument " + argument + " after " + std::string(mode.name);
  }
  return std::string(mode.name) + " cannot go with " + argument;
}

void applyBits(LongOptions& options, unsigned given) {
  options.dryRun = (given & kDryRun) != 0;
  options.tsv = (given & (kTsv | kJson)) != 0;
  options.json = (given & kJson) != 0;
  options.quiet = (given & kQuiet) != 0;
  options.strict = (given & kStrict) != 0;
}

}  // namespace

ParsedCommandLine parseCommandLine(int argc, const char* const* argv) {
  Parser parser(argc, argv);
  const auto leading = [&](int at) {
    const std::string_view argument = argv[at];
    return argument.substr(0, 2) == "--" || argument == "-f";
  };
  for (; parser.at < argc && leading(parser.at); ++parser.at) {
    if (std::string_view(argv[parser.at]) == "--") {
      ++parser.at;
      break;
    }
    if (!parser.longOption()) return std::move(parser.parsed);
  }
  ParsedCommandLine& parsed = parser.parsed;
  // "--check --strict FILE" as well as "--check FILE --strict".
  const bool afterEnd = std::string_view(argv[parser.at - 1]) == "--";
  if (parser.checkFileLater && parser.at < argc && argv[parser.at][0] != '-' && !afterEnd) {
    parsed.options.checkFile = argv[parser.at++];
  }
  parsed.classicArguments.push_back(argv[0]);
  for (int i = parser.at; i < argc; ++i) parsed.classicArguments.push_back(argv[i]);
  applyBits(parsed.options, parser.given);
  if (std::string conflict = conflictIn(parsed, parser); !conflict.empty()) {
    parsed.usable = false;
    parsed.problem = std::move(conflict);
  }
  return std::move(parser.parsed);
}

void printUsage(std::FILE* out) {
  std::fprintf(out, "\nUsage: \n");
  std::fprintf(out, "  zorvadmin [-p Printer-name -o Printer-dev-path]\n");
  std::fprintf(out, "  zorvadmin [-x Remove-Printer-name]\n\n");
}

void printRefusedUsage() {
  printUsage(stderr);
  std::fprintf(stderr, "Long options such as --check, --get, --set, --restore and --devices come first;\n"
                       "zorvadmin --help lists them all, zorvadmin(8) explains them.\n");
}

void printHelp() {
  printUsage(stdout);
  std::printf("  -p QUEUE        add QUEUE, or change the device path of its entry; needs -o\n");
  std::printf("  -o DEVICE       the printer device path for -p, such as /dev/usb/lp0\n");
  std::printf("  -x QUEUE        remove the entry of QUEUE\n");
  for (std::size_t i = 0; i < kLongOptions.size(); ++i) {
    if (i == kListedWithClassic) std::printf("Long options come first, before -p, -o and -x:\n");
    std::fputs(kLongOptions[i].help, stdout);
  }
  std::printf("Exit status:\n"
              "  0  done as asked\n"
              "  1  not run as root, for a run that needs root\n"
              "  2  refused (or, for --check, something is wrong); nothing changed\n"
              "  3  a file could not be read or written; the message says whether the change was made\n"
              "  4  a change needed the CUPS scheduler's answer and could not ask; nothing changed\n"
              "Environment:\n"
              "  ZORV_CONF               the configuration file instead of /etc/zorv.conf\n"
              "  ZORV_SCHEDULER_TIMEOUT  seconds a run may spend asking the scheduler (10)\n"
              "  ZORV_LOCK_TIMEOUT       seconds a run waits for the lock (10)\n"
              "See zorvadmin(8) for the whole manual.\n");
}

}  // namespace zorv
