#include "admin/options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zorv {
namespace {

struct Parsed {
  std::string printerName;
  std::string devicePath;
  AdminCommand command;
};

Parsed parse(std::vector<const char*> args) {
  args.insert(args.begin(), "zorvadmin");
  AdminContext context;
  parseOptions(static_cast<int>(args.size()), args.data(), context);
  return {std::string(context.printerName), std::string(context.devicePath), context.command};
}

TEST(ParseOptions, AddAndRemove) {
  const Parsed add = parse({"-p", "Q1", "-o", "/dev/usb/lp1"});
  EXPECT_EQ(add.printerName, "Q1");
  EXPECT_EQ(add.devicePath, "/dev/usb/lp1");
  EXPECT_EQ(add.command, AdminCommand::Add);
  const Parsed remove = parse({"-x", "Q1"});
  EXPECT_EQ(remove.printerName, "Q1");
  EXPECT_EQ(remove.command, AdminCommand::Remove);
}

TEST(ParseOptions, LoneArgumentIsNeverExamined) {
  const Parsed lone = parse({"-p"});
  EXPECT_EQ(lone.printerName, "");
  EXPECT_EQ(lone.command, AdminCommand::List);
  // The last argument is never an option, even among several.
  EXPECT_EQ(parse({"-o", "/dev/lp0", "-x"}).command, AdminCommand::List);
}

TEST(ParseOptions, LaterOptionWinsAndOperandsAreExaminedToo) {
  const Parsed later = parse({"-p", "Q1", "-x", "Q2"});
  EXPECT_EQ(later.printerName, "Q2");
  EXPECT_EQ(later.command, AdminCommand::Remove);
  // "-x" is first taken as the queue name, then examined as an option.
  const Parsed operand = parse({"-p", "-x", "Q2"});
  EXPECT_EQ(operand.printerName, "Q2");
  EXPECT_EQ(operand.command, AdminCommand::Remove);
}

TEST(ParseOptions, OnlyTheFirstTwoCharactersCount) {
  const Parsed prefixed = parse({"-pQ1", "Q2", "-output", "/dev/lp0"});
  EXPECT_EQ(prefixed.printerName, "Q2");
  EXPECT_EQ(prefixed.devicePath, "/dev/lp0");
  EXPECT_EQ(prefixed.command, AdminCommand::Add);
  EXPECT_EQ(parse({"p", "Q1", "--p", "Q2"}).command, AdminCommand::List);
}

// Kept whole, so that the run can refuse what it cannot store exactly.
TEST(ParseOptions, OperandsAreKeptWhole) {
  const std::string longName(400, 'n');
  EXPECT_EQ(parse({"-x", longName.c_str()}).printerName, longName);
}

TEST(ParseOptions, DeviceAloneLeavesAListing) {
  const Parsed device = parse({"-o", "/dev/usb/lp1"});
  EXPECT_EQ(device.printerName, "");
  EXPECT_EQ(device.devicePath, "/dev/usb/lp1");
  EXPECT_EQ(device.command, AdminCommand::List);
}

// The long options' table decides what goes together, in process: the
// first unknown option or second mode stops the parse; each refusal names
// the options or the argument given, in these exact words.
TEST(ParseCommandLine, DecidesConflictsFromTheTable) {
  struct Case {
    std::vector<const char*> args;
    const char* problem;  // empty: usable
    RunMode mode;
  };
  const std::vector<Case> cases = {
      {{"--frobnicate", "--check"}, "unknown option --frobnicate", RunMode::Classic},
      {{"--check", "--restore", "--bogus"}, "--check and --restore cannot go together", RunMode::Check},
      {{"--get", "Q1", "--check"}, "--get and --check cannot go together", RunMode::Get},
      {{"--help", "--version"}, "--help and --version cannot go together", RunMode::Help},
      {{"--tsv=1"}, "unknown option --tsv=1", RunMode::Classic},
      {{"--getQ1"}, "unknown option --getQ1", RunMode::Classic},
      {{"--get"}, "--get needs a queue name", RunMode::Classic},
      {{"--check", "--tsv"}, "--check cannot go with --tsv", RunMode::Check},
      {{"--check", "--strict"}, "", RunMode::Check},
      {{"--strict", "--check", "f.conf"}, "", RunMode::Check},
      {{"--check", "f.conf", "extra"}, "unexpected argument extra after --check", RunMode::Check},
      {{"--check", "--", "f.conf"}, "unexpected argument f.conf after --check", RunMode::Check},
      {{"--check", "f\x1b"}, "", RunMode::Check},
      {{"--check", "--", "f\x1b"}, "unexpected argument f\\x1b after --check", RunMode::Check},
      {{"--strict", "-x", "Q1"}, "--strict goes only with --check", RunMode::Classic},
      {{"--strict"}, "--strict goes only with --check", RunMode::Classic},
      {{"--get", "Q1", "--strict"}, "--get cannot go with --strict", RunMode::Get},
      {{"--tsv", "--get", "Q1"}, "--get cannot go with --tsv", RunMode::Get},
      {{"--get", "Q1", "-x", "Q1"}, "--get cannot go with -x", RunMode::Get},
      {{"--get", "Q1", "Q2"}, "unexpected argument Q2 after --get", RunMode::Get},
      {{"--restore", "--dry-run"}, "--restore cannot go with --dry-run", RunMode::Restore},
      {{"--dry-run", "--restore"}, "--restore cannot go with --dry-run", RunMode::Restore},
      {{"--restore", "-o", "x"}, "--restore cannot go with -o", RunMode::Restore},
      {{"--devices", "--quiet"}, "--devices cannot go with --quiet", RunMode::Devices},
      {{"--devices", "-pQ1"}, "--devices cannot go with -pQ1", RunMode::Devices},
      {{"--help", "x"}, "unexpected argument x after --help", RunMode::Help},
      {{"--version", "--tsv"}, "--version cannot go with --tsv", RunMode::Version},
      {{"--quiet", "-o", "x"}, "--quiet needs a change: -p, -x, --set or --restore", RunMode::Classic},
      {{"--quiet"}, "--quiet needs a change: -p, -x, --set or --restore", RunMode::Classic},
      {{"--dry-run"}, "--dry-run needs a change: -p, -x or --set", RunMode::Classic},
      {{"--tsv", "--dry-run", "--quiet"}, "--dry-run needs a change: -p, -x or --set", RunMode::Classic},
      {{"--dry-run", "--tsv", "-x", "Q1"}, "", RunMode::Classic},
      {{"--restore", "--tsv", "--quiet"}, "", RunMode::Restore},
      {{"--devices", "--tsv"}, "", RunMode::Devices},
      {{"--check", "-"}, "--check cannot go with -", RunMode::Check},
      {{"--check=", "--"}, "", RunMode::Check},
      {{"--version"}, "", RunMode::Version},
      {{"--set", "UI_Port"}, "--set needs a setting and its value", RunMode::Classic},
      {{"--set", "UI_Port", "1", "-x", "Q1"}, "--set cannot go with -x", RunMode::Set},
      {{"--set", "UI_Port", "1", "--strict"}, "--set cannot go with --strict", RunMode::Set},
      {{"--dry-run", "--set", "UI_Port", "-1"}, "", RunMode::Set},
      {{"--json", "--tsv"}, "--json and --tsv cannot go together", RunMode::Classic},
      {{"--devices", "--tsv", "--json"}, "--json and --tsv cannot go together", RunMode::Devices},
      {{"--check", "--json", "--strict"}, "", RunMode::Check},
      {{"--devices", "--json"}, "", RunMode::Devices},
      {{"--json", "--restore", "--quiet"}, "", RunMode::Restore},
      {{"--json", "--dry-run", "--set", "UI_Port", "1"}, "", RunMode::Set},
      {{"--json", "--dry-run", "-x", "Q1"}, "", RunMode::Classic},
      {{"--json", "--get", "Q1"}, "--get cannot go with --json", RunMode::Get},
      {{"--json", "--dry-run", "--quiet", "--batch", "-"}, "", RunMode::Batch},
      {{"--json", "--stable-names"}, "", RunMode::StableNames},
      {{"--json", "--tsv", "--batch", "-"}, "--json and --tsv cannot go together", RunMode::Batch},
      {{"--json", "--strict"}, "--strict goes only with --check", RunMode::Classic},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = c.args;
    argv.insert(argv.begin(), "zorvadmin");
    const ParsedCommandLine parsed = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    const std::string trace = ::testing::PrintToString(c.args);
    EXPECT_EQ(parsed.usable, std::string(c.problem).empty()) << trace;
    EXPECT_EQ(parsed.problem, c.problem) << trace;
    EXPECT_EQ(parsed.options.mode, c.mode) << trace;
  }
}

// What the classic parser passes over is said, word for word; what it reads
// is not.
TEST(ClassicNotes, SayWhatWasIgnoredOrTakenAsAnOperand) {
  const std::string ignored = " is ignored: only -p, -o and -x are read, each with the word after it";
  const std::vector<std::pair<std::vector<const char*>, std::vector<std::string>>> cases = {
      {{}, {}},
      {{"-p", "Q1", "-o", "/dev/null"}, {}},
      {{"-x", "Q1"}, {}},
      {{"Q1"}, {"Q1" + ignored}},
      {{"-x"}, {"-x is ignored: no word follows it"}},
      {{"-p", "Q1", "-o", "/dev/null", "extra"}, {"extra" + ignored}},
      {{"-p", "Q1", "word", "-o", "/dev/null"}, {"word" + ignored}},
      {{"-o", "/dev/null"}, {"-o /dev/null is ignored: a device path goes only with -p"}},
      {{"-x", "Q1", "-o", "/dev/null"}, {"-o /dev/null is ignored: a device path goes only with -p"}},
      {{"-p", "-x", "Q2"}, {"-p takes -x as its queue name"}},
      {{"-p", "Q1", "-o", "-p", "Q1"}, {"-o takes -p as its device path"}},
      {{"-pQ1", "Q2", "-o", "/dev/null"}, {"-pQ1 is read as -p: Q1 is ignored"}},
      {{"-o", "/dev/lp0", "-x"},
       {"-x is ignored: no word follows it", "-o /dev/lp0 is ignored: a device path goes only with -p"}},
      {{"a\x1b"}, {"a\\x1b" + ignored}},
  };
  for (const auto& [args, notes] : cases) {
    std::vector<const char*> argv = args;
    argv.insert(argv.begin(), "zorvadmin");
    EXPECT_EQ(classicNotes(static_cast<int>(argv.size()), argv.data()), notes) << ::testing::PrintToString(args);
  }
}

// Operands: attached with "=", or the next argument (for --check only when
// it does not begin with "-"); "--" ends the long options.
TEST(ParseCommandLine, TakesOperandsAndLeavesTheClassicPart) {
  const char* argv[] = {"zorvadmin", "--get", "-x", "--", "-x", "Q1"};
  const ParsedCommandLine get = parseCommandLine(6, argv);
  EXPECT_EQ(get.options.getQueue, "-x");
  EXPECT_EQ(get.classicArguments.size(), 3u);
  const char* check[] = {"zorvadmin", "--check=/tmp/f", "--tsv"};
  EXPECT_EQ(parseCommandLine(3, check).options.checkFile, "/tmp/f");
  const char* file[] = {"zorvadmin", "--check", "f.conf"};
  EXPECT_EQ(parseCommandLine(3, file).options.checkFile, "f.conf");
  const char* strict[] = {"zorvadmin", "--check", "--strict", "f.conf"};
  EXPECT_EQ(parseCommandLine(4, strict).options.checkFile, "f.conf");
  EXPECT_TRUE(parseCommandLine(4, strict).options.strict);
  // --json is output for scripts as --tsv is: every entry, only reading.
  const char* json[] = {"zorvadmin", "--json"};
  EXPECT_TRUE(parseCommandLine(2, json).options.json);
  EXPECT_TRUE(parseCommandLine(2, json).options.tsv);
}

}  // namespace
}  // namespace zorv
