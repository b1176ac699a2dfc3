// Memory and system calls that do not grow with the file: the questions
// (--check, --tsv, --get, --devices) and a change's listing for scripts keep
// a bounded peak on a large file and still answer in full; --check looks at
// each distinct device path once and says once when it stops remembering
// queue names.
#include <algorithm>
#include <functional>
#include <map>
#include <sstream>

#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

constexpr long kMaxPeakKilobytes = 64L * 1024;
constexpr long kThirtyMegabytes = 30L * 1024 * 1024;

int linesWith(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// The line numbers of "FILE:LINE: ..." findings never go back.
bool inLineOrder(const std::string& findings, const std::string& path) {
  std::istringstream lines(findings);
  int last = 0;
  for (std::string line; std::getline(lines, line);) {
    const int number = std::stoi(line.substr(path.size() + 1));
    if (number < last) return false;
    last = number;
  }
  return true;
}

class MemoryTest : public CliTest {
 protected:
  std::string absent(int i) const { return file("absent/lp" + std::to_string(i)); }
  std::string blocks(int count, int paths) const {
    std::string text;
    for (int i = 0; i < count; ++i) {
      text += "<Printer Q" + std::to_string(i) + ">\nDevicePath " + absent(i % paths) + "\n</Printer>\n";
    }
    return text;
  }
  long peakOf(const std::vector<std::string>& args, RunResult& result) const {
    const std::string report = file("peak");
    result = runWrapped({"/usr/bin/time", "-f", "%M", "-o", report}, args);
    // GNU time puts "Command exited with non-zero status" first.
    const std::string peak = readFile(report);
    return std::stol(peak.substr(peak.rfind('\n', peak.size() - 2) + 1));
  }
};

// A block of 100,000 unknown lines around its device path, 200,000 blocks,
// 600,000 lines outside any section, and comments up to 30 MB.
TEST_F(MemoryTest, QuestionsStayUnder64MegabytesOnALargeFile) {
#ifdef ZORV_SANITIZED
  GTEST_SKIP() << "the sanitizer's shadow memory inflates the peak";
#endif
  // Enough that 1.2's full records and held findings pass the bound.
  constexpr int kBlocks = 200000, kJunk = 100000, kOutside = 600000;
  const std::string last = "Q" + std::to_string(kBlocks - 1);
  // The long block comes first: lines of blocks past the table are not looked at.
  std::string text = "<Printer Long>\n";
  for (int i = 0; i < kJunk; ++i) text += (i == kJunk / 2 ? "DevicePath relative\n" : "junk\n");
  text += "</Printer>\n" + blocks(kBlocks, kBlocks);
  for (int i = 0; i < kOutside; ++i) text += "outside\n";
  const std::string comment = "# a comment line that is repeated a great many times\n";
  std::string content = configWith(cupsRoot(), text);
  content.reserve(static_cast<std::size_t>(kThirtyMegabytes) + comment.size());
  while (static_cast<long>(content.size()) < kThirtyMegabytes) content += comment;
  writeConf(content);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::function<void(const std::string&)> expectOutput;
  };
  const std::string path = conf();
  // The listing for scripts, in full; the scheduler has Q1 to Q3.
  const std::map<std::string, std::string> known = {
      {"Q1", "zorv\t/var/run/zorv/Q1.fifo\tok"}, {"Q2", "parallel\t/dev/lp0\tok"}, {"Q3", "usb\t//Zorv/ZPR4410\tok"}};
  const auto tsv = [&](const std::string& removed) {
    std::string listed = "setting\tCUPS_ConfigPath\t" + cupsRoot() +
                         "\nsetting\tLogDirectoryPath\t\nsetting\tUI_Port\t59787\nentry\tLong\trelative\t\t\tunknown-queue\n";
    for (int i = 0; i < kBlocks; ++i) {
      const std::string queue = "Q" + std::to_string(i);
      const auto found = known.find(queue);
      if (queue == removed) continue;
      listed += "entry\t" + queue + "\t" + absent(i) + "\t" +
                (found == known.end() ? "\t\tunknown-queue" : found->second) + "\n";
    }
    return listed;
  };
  const auto expectTsv = [&](const std::string& removed) {
    return [&, removed](const std::string& out) {
      const std::string expected = tsv(removed);
      EXPECT_EQ(linesWith(out, "\n"), linesWith(expected, "\n"));
      EXPECT_EQ(std::hash<std::string>{}(out), std::hash<std::string>{}(expected));
    };
  };
  const std::vector<Case> cases = {
      {{"--check", path}, 2, [&](const std::string& out) {
         EXPECT_EQ(linesWith(out, " does not exist\n"), kBlocks);
         EXPECT_EQ(linesWith(out, ": unknown line in a printer block; a rewrite drops it\n"), kJunk - 1);
         EXPECT_EQ(linesWith(out, ": text outside any section; a rewrite drops it\n"), kOutside);
         EXPECT_EQ(linesWith(out, "the device path \"relative\" of Long is not absolute\n"), 1);
         EXPECT_TRUE(inLineOrder(out, path));
       }},
      {{"--tsv"}, 0, expectTsv("")},
      {{"--get", last}, 0, [&](const std::string& out) { EXPECT_EQ(out, absent(kBlocks - 1) + "\n"); }},
      {{"--devices"}, 0, [&](const std::string& out) { EXPECT_EQ(linesWith(out, " (" + file("absent/")), kBlocks); }},
      {{"--devices", "--tsv"}, 0, [&](const std::string& out) {
         EXPECT_EQ(linesWith(out, "\tabsent\n"), kBlocks + 1);
         EXPECT_EQ(linesWith(out, "entry\tLong\trelative\t\t\tabsent\n"), 1);
       }},
      // A change that changes nothing, then one that does (last: the
      // listing is the new file's, without Q2).
      {{"--tsv", "-p", "Q1", "-o", absent(1)}, 0, expectTsv("")},
      {{"--tsv", "-x", "Q2"}, 0, expectTsv("Q2")},
  };
  for (const Case& c : cases) {
    std::string what = c.args[0];
    for (std::size_t i = 1; i < std::min<std::size_t>(c.args.size(), 3); ++i) what += " " + c.args[i];
    SCOPED_TRACE(what);
    RunResult result;
    const long peak = peakOf(c.args, result);
    std::printf("peak memory, %s: %ld kB\n", what.c_str(), peak);
    EXPECT_LT(peak, kMaxPeakKilobytes);
    EXPECT_EQ(result.status, c.status) << result.err;
    c.expectOutput(result.out);
  }
}

TEST_F(MemoryTest, CheckLooksAtEachDistinctDevicePathOnce) {
  constexpr int kPaths = 10;
  writeConf(configWith(cupsRoot(), blocks(50, kPaths)));
  const std::string trace = file("trace");
  const RunResult result =
      runWrapped({"strace", "-f", "-qq", "-e", "trace=stat,lstat,newfstatat,statx", "-o", trace}, {"--check", conf()});
  EXPECT_EQ(result.status, 2) << result.err;  // more blocks than the table holds
  EXPECT_EQ(linesWith(result.out, " does not exist\n"), 50);
  const std::string calls = readFile(trace);
  for (int i = 0; i < kPaths; ++i) EXPECT_EQ(linesWith(calls, "\"" + absent(i) + "\""), 1) << absent(i);
}

// Names seen before the cap are still found again; the cap is said once.
TEST_F(MemoryTest, PastTheCapDuplicatesAreNotLookedForAndThatIsSaidOnce) {
  constexpr int kCap = 65536, kBlocks = kCap + 100;
  writeConf(configWith(cupsRoot(), blocks(kBlocks, 1) + "<Printer q0>\nDevicePath " + absent(0) + "\n</Printer>\n"));
  const RunResult result = run({"--check", conf()});
  EXPECT_EQ(result.status, 2) << result.err;
  const int capLine = 1 + static_cast<int>(std::count(kDefaultConfig.begin(), kDefaultConfig.begin() +
                                                          static_cast<long>(kDefaultConfig.find("<Ports>")), '\n')) +
                      3 * kCap;
  EXPECT_EQ(linesWith(result.out, "warning: too many blocks to check for duplicates\n"), 1);
  EXPECT_EQ(linesWith(result.out, ":" + std::to_string(capLine) + ": warning: too many blocks to check for duplicates\n"), 1);
  EXPECT_EQ(linesWith(result.out, ": a second block for q0; the first is at line "), 1);
}

}  // namespace
}  // namespace zorv::test
