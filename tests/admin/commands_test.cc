#include "admin/commands.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zorv {
namespace {

struct CommandCase {
  std::vector<const char*> args;
  const char* name;
  bool needsRoot;
  bool givesUpSetUserId;
  bool mayCreateConfig;
};

// Which row each command line reaches, and what that row asks of the run:
// only what changes (or may create) the configuration needs root.
TEST(CommandTable, EachCommandLineReachesItsRow) {
  const std::vector<CommandCase> cases = {
      {{}, "list", true, false, true},
      {{"--tsv"}, "read", false, true, false},
      {{"--tsv", "-p", "Q1", "-o", "/dev/lp0"}, "add", true, false, true},
      {{"--dry-run", "-x", "Q1"}, "remove", true, false, true},
      {{"--quiet", "--restore"}, "restore", true, false, false},
      {{"--set", "UI_Port", "631"}, "set", true, false, true},
      {{"--check", "--strict"}, "check", false, true, false},
      {{"--get", "Q1"}, "get", false, true, false},
      {{"--devices", "--tsv"}, "devices", false, true, false},
      {{"--help"}, "help", false, true, false},
      {{"--version"}, "version", false, true, false},
  };
  for (const CommandCase& row : cases) {
    std::vector<const char*> args = row.args;
    args.insert(args.begin(), "zorvadmin");
    const ParsedCommandLine parsed = parseCommandLine(static_cast<int>(args.size()), args.data());
    ASSERT_TRUE(parsed.usable) << row.name << ": " << parsed.problem;
    AdminContext context;
    parseOptions(static_cast<int>(parsed.classicArguments.size()), parsed.classicArguments.data(), context);
    const Command& command = commandFor(parsed.options, context);
    EXPECT_EQ(command.name, row.name);
    EXPECT_EQ(command.needsRoot, row.needsRoot) << row.name;
    EXPECT_EQ(command.givesUpSetUserId, row.givesUpSetUserId) << row.name;
    EXPECT_EQ(command.mayCreateConfig, row.mayCreateConfig) << row.name;
  }
}

}  // namespace
}  // namespace zorv
