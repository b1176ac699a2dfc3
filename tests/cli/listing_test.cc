// The listing, the usage text, the root check and the option quirks, seen
// through the real binary.
#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

class ListingTest : public CliTest {};

TEST_F(ListingTest, NoArgumentAndNoFileCreatesTheDefaultAndLists) {
  const RunResult result = run({});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, kUsage + listing("/etc/cups/", "None", 59787, {}));
  EXPECT_EQ(readConf(), kDefaultConfig);
  EXPECT_FALSE(fileExists(conf() + "~"));
  // A second run lists the same file and leaves it alone.
  EXPECT_EQ(run({}).out, kUsage + listing("/etc/cups/", "None", 59787, {}));
  EXPECT_EQ(readConf(), kDefaultConfig);
}

TEST_F(ListingTest, RefusesToRunUnlessRoot) {
  const RunResult result = runWrapped(kAsNobody, {"-p", "Q1", "-o", "/dev/lp0"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "This Command must be run as root\n");
  EXPECT_FALSE(fileExists(conf()));
}

TEST_F(ListingTest, OptionQuirks) {
  writeConf(configWith(cupsRoot()));
  const std::string emptyListing = listing(cupsRoot(), "None", 59787, {});
  // A lone argument is never examined: no usage text, only the listing.
  RunResult lone = run({"-p"});
  EXPECT_EQ(lone.status, 0);
  EXPECT_EQ(lone.out, emptyListing);
  // A device path alone asks nothing of CUPS and rewrites nothing.
  RunResult deviceOnly = run({"-o", "/dev/usb/lp1"});
  EXPECT_EQ(deviceOnly.out, emptyListing);
  EXPECT_FALSE(fileExists(conf() + ".bak"));

  writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n\n"));
  const std::string deleted =
      listing(cupsRoot(), "None", 59787, {{"Q2", "parallel", "/dev/lp0", "/dev/usb/lp2", "Delete"}});
  // The later option wins: this removes Q2.
  EXPECT_EQ(run({"-p", "Q1", "-x", "Q2"}).out, deleted);
  EXPECT_EQ(readConf(), configWith(cupsRoot()));

  writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n\n"));
  // "-x" is taken as -p's operand and then examined as an option itself.
  EXPECT_EQ(run({"-p", "-x", "Q2"}).out, deleted);
  writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n\n"));
  EXPECT_EQ(run({"-xQ2", "Q2"}).out, deleted);
}

TEST_F(ListingTest, SubstitutesForMissingSettings) {
  writeConf("<Path>\n</Path>\n<Ports>\n</Ports>\n");
  EXPECT_EQ(run({"-o", "x"}).out, listing("Default(/etc/cups)", "None", 59787, {}));
  writeConf("<Ports>\nUI_Port\n</Ports>\n");
  EXPECT_EQ(run({"-o", "x"}).out, listing("Default(/etc/cups)", "None", 59787, {}));
}

TEST_F(ListingTest, PortValues) {
  writeConf("<Ports>\nUI_Port: -5\n</Ports>\n");
  EXPECT_EQ(run({"-o", "x"}).out, listing("Default(/etc/cups)", "None", -5, {}));
  writeConf("<Ports>\nUI_Port  port59787\n</Ports>\n");
  EXPECT_EQ(run({"-o", "x"}).out, listing("Default(/etc/cups)", "None", 59787, {}));
  writeConf("<Ports>\nUI_Port\t631tail\n</Ports>\n");
  EXPECT_EQ(run({"-o", "x"}).out, listing("Default(/etc/cups)", "None", 631, {}));
  writeConf("<Ports>\nUI_Port 99999999999\n</Ports>\n");
  EXPECT_EQ(run({"-o", "x"}).out, listing("Default(/etc/cups)", "None", 2147483647, {}));
}

TEST_F(ListingTest, ValuesKeepTrailingSpacesAndKeywordsCountOnlyWhereTheyBelong) {
  writeConf(
      "<Path>\n"
      "CUPS_ConfigPath : \t/srv/cups/  \n"
      "LogDirectoryPath /var/log/zorv\n"
      "UI_Port 1234\n"
      "</Path>\n"
      "LogDirectoryPath /outside/any/section\n"
      "<Ports>\n"
      "CUPS_ConfigPath /in/the/ports/section/\n"
      " UI_Port 4321\n"
      "</Ports>\n");
  EXPECT_EQ(run({"-o", "x"}).out, listing("/srv/cups/  ", "/var/log/zorv", 59787, {}));
}

TEST_F(ListingTest, EntriesWithoutSpoolerDataShowFifteenSpaces) {
  writeConf(configWith("/nonexistent/", "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"
                                         "<Printer NoSuchQueue>\n</Printer>\n"));
  EXPECT_EQ(run({"-o", "x"}).out,
            listing("/nonexistent/", "None", 59787,
                    {{"Q2", "", kNoFifo, "/dev/usb/lp2", ""}, {"NoSuchQueue", "", kNoFifo, "", "invalid Spool Name"}}));
}

}  // namespace
}  // namespace zorv::test

namespace zorv::test {
namespace {

TEST_F(ListingTest, HelpAndVersionNeedNoRootAndTouchNothing) {
  const RunResult help = runWrapped(kAsNobody, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.substr(0, kUsage.size()), kUsage);
  for (const char* option : {"--check [FILE]", "--dry-run", "--tsv", "--get QUEUE", "--quiet", "--restore"}) {
    const auto at = help.out.find(std::string("\n  ") + option + " ");
    ASSERT_NE(at, std::string::npos) << option;
    EXPECT_NE(help.out.find("(since 1.1)\n", at), std::string::npos) << option;
  }
  const RunResult version = runWrapped(kAsNobody, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "zorvadmin 1.2.0\n");
  EXPECT_FALSE(fileExists(conf()));
  // With anything else they are refused: "--help -x Q" must not remove Q.
  const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
      {{"--help", "x"}, "unexpected argument x after --help"},
      {{"--version", "-x", "Q1"}, "--version cannot go with -x"},
      {{"--help", "--tsv"}, "--help cannot go with --tsv"},
  };
  for (const auto& [args, problem] : refusals) {
    const RunResult refused = run(args);
    EXPECT_EQ(refused.status, 2) << args[1];
    EXPECT_EQ(refused.out, "") << args[1];
    EXPECT_EQ(refused.err, "zorvadmin: " + problem + "\n" + kRefusedUsage) << args[1];
  }
  EXPECT_FALSE(fileExists(conf()));
}

}  // namespace
}  // namespace zorv::test
