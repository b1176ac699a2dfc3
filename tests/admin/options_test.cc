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

}  // namespace
}  // namespace zorv
