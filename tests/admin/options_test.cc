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
// first unknown option or second mode stops the parse, then the table's
// word for the mode.
TEST(ParseCommandLine, DecidesConflictsFromTheTable) {
  struct Case {
    std::vector<const char*> args;
    const char* problem;  // empty: usable
    RunMode mode;
  };
  const std::vector<Case> cases = {
      {{"--frobnicate", "--check"}, "unknown option --frobnicate", RunMode::Classic},
      {{"--check", "--restore", "--bogus"}, "these options cannot go together", RunMode::Check},
      {{"--tsv=1"}, "unknown option --tsv=1", RunMode::Classic},
      {{"--get"}, "--get needs a queue name", RunMode::Classic},
      {{"--check", "--tsv"}, "--check goes only with --strict", RunMode::Check},
      {{"--check", "--strict"}, "", RunMode::Check},
      {{"--strict", "--check", "f.conf"}, "", RunMode::Check},
      {{"--strict", "-x", "Q1"}, "--strict goes only with --check", RunMode::Classic},
      {{"--get", "Q1", "--strict"}, "--check and --get cannot go with other options", RunMode::Get},
      {{"--get", "Q1", "-x", "Q1"}, "--check and --get cannot go with other options", RunMode::Get},
      {{"--restore", "--dry-run"}, "--restore cannot go with a change", RunMode::Restore},
      {{"--restore", "-o", "x"}, "--restore cannot go with a change", RunMode::Restore},
      {{"--devices", "--quiet"}, "--devices goes only with --tsv", RunMode::Devices},
      {{"--help", "x"}, "--help and --version cannot go with other options", RunMode::Help},
      {{"--quiet", "-o", "x"}, "--dry-run and --quiet need -p or -x", RunMode::Classic},
      {{"--dry-run", "--tsv", "-x", "Q1"}, "", RunMode::Classic},
      {{"--restore", "--tsv", "--quiet"}, "", RunMode::Restore},
      {{"--devices", "--tsv"}, "", RunMode::Devices},
      {{"--check", "-"}, "--check goes only with --strict", RunMode::Check},
      {{"--check=", "--"}, "", RunMode::Check},
      {{"--version"}, "", RunMode::Version},
      {{"--set", "UI_Port"}, "--set needs a setting and its value", RunMode::Classic},
      {{"--set", "UI_Port", "1", "-x", "Q1"}, "--set cannot go with -p, -o or -x", RunMode::Set},
      {{"--dry-run", "--set", "UI_Port", "-1"}, "", RunMode::Set},
      {{"--json", "--tsv"}, "--json and --tsv cannot go together", RunMode::Classic},
      {{"--devices", "--tsv", "--json"}, "--json and --tsv cannot go together", RunMode::Devices},
      {{"--check", "--json", "--strict"}, "", RunMode::Check},
      {{"--devices", "--json"}, "", RunMode::Devices},
      {{"--json", "--restore", "--quiet"}, "", RunMode::Restore},
      {{"--json", "--dry-run", "--set", "UI_Port", "1"}, "", RunMode::Set},
      {{"--json", "--dry-run", "-x", "Q1"}, "", RunMode::Classic},
      {{"--json", "--get", "Q1"}, "--check and --get cannot go with other options", RunMode::Get},
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
