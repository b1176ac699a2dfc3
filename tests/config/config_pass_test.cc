// The rewrite rules through the scheduler seam, with no scheduler: a fixed
// directory of queues, configurations given as bytes, and the new file's
// bytes and the returned entries compared exactly.
#include "config/config_pass.h"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.h"

namespace zorv {
namespace {

class FixedDirectory final : public QueueDirectory {
 public:
  explicit FixedDirectory(std::set<std::string> queues) : queues_(std::move(queues)) {}
  bool knows(std::string_view queue) override { return queues_.count(std::string(queue)) > 0; }

 private:
  std::set<std::string> queues_;
};

const std::string kHead = "<Path>\nCUPS_ConfigPath /etc/cups/\n</Path>\n";
const std::string kPorts = "<Ports>\nUI_Port 631\n</Ports>\n";

std::string block(const std::string& name, const std::string& device) {
  return "<Printer " + name + ">\nDevicePath " + device + "\n</Printer>\n";
}

// "NAME=DEVICE=STATUS" per entry, in order.
std::vector<std::string> describe(const ConfigContent& content) {
  std::vector<std::string> rows;
  for (const PrinterEntry& entry : content.entries) {
    rows.push_back(std::string(entry.spooler.view()) + "=" + std::string(entry.devicePath.view()) + "=" +
                   std::string(statusWord(entry)));
  }
  return rows;
}

struct RewriteCase {
  const char* what;
  RewriteMode mode;
  std::string queue;
  std::string blocks;        // between the head and <Ports>
  std::string expectedBlocks;
  std::vector<std::string> expectedEntries;
};

void PrintTo(const RewriteCase& c, std::ostream* out) { *out << c.what; }

class RewriteRules : public ::testing::TestWithParam<RewriteCase> {};

// A rewrite whose bytes go to written.
auto rewriteInto(std::string& written, const ConfigFiles& files, const RewriteRequest& request,
                 FixedDirectory& queues) {
  return rewriteConfig(files, request, queues, [&written](std::string_view bytes) {
    written += bytes;
    return 0;
  });
}

TEST_P(RewriteRules, NewFileAndEntries) {
  const RewriteCase& c = GetParam();
  test::TempDir dir;
  const ConfigFiles files = configFilesFor(dir.file("zorv.conf"));
  test::writeFile(files.config, kHead + c.blocks + kPorts);
  FixedDirectory queues({"Q2", "Q20"});

  const ConfigRead read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, c.queue, nullptr});
  ASSERT_EQ(read.result, PassResult::Ok);

  const RewriteRequest request{c.mode, c.queue, "/dev/new", read.blockFound};
  std::string written;
  const auto rewrite = rewriteInto(written, files, request, queues);
  ASSERT_EQ(rewrite.result, PassResult::Ok);
  EXPECT_EQ(written, kHead + c.expectedBlocks + kPorts);
  EXPECT_EQ(describe(rewrite.content), c.expectedEntries);
}

const std::string kQ2 = block("Q2", "/dev/q2");
const std::string kQ20 = block("Q20", "/dev/q20");

INSTANTIATE_TEST_SUITE_P(
    Cases, RewriteRules,
    ::testing::Values(
        RewriteCase{"remove matches the whole name, not a prefix", RewriteMode::Remove, "Q2", kQ20 + kQ2 + kQ20,
                    kQ20 + kQ20, {"Q20=/dev/q20=", "Q2=/dev/q2=Delete", "Q20=/dev/q20="}},
        RewriteCase{"modify touches only its own block", RewriteMode::Add, "Q2", kQ2 + kQ20,
                    block("Q2", "/dev/new") + kQ20, {"Q2=/dev/new=Modified", "Q20=/dev/q20="}},
        RewriteCase{"add of a new queue appends once, before <Ports>", RewriteMode::Add, "Q20", kQ2,
                    kQ2 + "<Printer Q20>\nDevicePath /dev/new\n</Printer>\n\n",
                    {"Q2=/dev/q2=", "Q20=/dev/new=New!!"}},
        RewriteCase{"unknown queues are marked, known ones are not", RewriteMode::Remove, "Q20",
                    block("Gone", "/dev/g") + kQ2 + kQ20, block("Gone", "/dev/g") + kQ2,
                    {"Gone=/dev/g=invalid Spool Name", "Q2=/dev/q2=", "Q20=/dev/q20=Delete"}},
        RewriteCase{"names match as the scheduler compares them", RewriteMode::Add, "Q2", block("q2", "/dev/old"),
                    block("Q2", "/dev/new"), {"Q2=/dev/new=Modified"}},
        RewriteCase{"a block without a device path gets one before its end", RewriteMode::Add, "Q2",
                    "<Printer Q2>\n  DevicePath /dev/indented\n</Printer>\n",
                    "<Printer Q2>\nDevicePath /dev/new\n</Printer>\n", {"Q2=/dev/new=Modified"}}),
    [](const ::testing::TestParamInfo<RewriteCase>& param) { return "Case" + std::to_string(param.index); });

TEST(RewriteRulesAfterPorts, BlockAfterPortsIsModifiedNotDoubled) {
  test::TempDir dir;
  const ConfigFiles files = configFilesFor(dir.file("zorv.conf"));
  test::writeFile(files.config, kHead + kPorts + kQ2);
  FixedDirectory queues({"Q2"});
  const RewriteRequest request{RewriteMode::Add, "Q2", "/dev/new", true};
  std::string written;
  const auto rewrite = rewriteInto(written, files, request, queues);
  ASSERT_EQ(rewrite.result, PassResult::Ok);
  EXPECT_EQ(written, kHead + kPorts + block("Q2", "/dev/new"));
  EXPECT_EQ(describe(rewrite.content), std::vector<std::string>{"Q2=/dev/new=Modified"});
}

TEST(ReadPass, SeparatorOnlyValuesAreEmpty) {
  test::TempDir dir;
  const ConfigFiles files = configFilesFor(dir.file("zorv.conf"));
  test::writeFile(files.config, "<Path>\nCUPS_ConfigPath : \n</Path>\n<Printer Q2>\nDevicePath : \n</Printer>\n"
                                "<Ports>\nUI_Port \t:");
  FixedDirectory queues({"Q2"});
  const ConfigRead read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, nullptr});
  ASSERT_EQ(read.result, PassResult::Ok);
  EXPECT_EQ(read.content.settings.cupsConfigPath.view(), "");
  EXPECT_EQ(describe(read.content), std::vector<std::string>{"Q2=="});
}

}  // namespace
}  // namespace zorv
