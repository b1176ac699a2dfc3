// Nothing is ever lost: the real binary is killed at, or fails in, each
// file-changing system call of an add (strace's fault injection), and the
// configuration must always be whole, either the old or the new bytes.
#include <map>
#include <sstream>

#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

struct Syscall {
  std::string name;
  int occurrence;    // 1 for the first call of this name, as strace counts
  std::string text;  // the traced line, with file names decoded
};

const std::vector<std::string> kAdd = {"-p", "Q1", "-o", "/dev/usb/lp1"};

class FaultInjectionTest : public CliTest {
 protected:
  void SetUp() override {
    before_ = configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"
                                     "<Printer Q3>\nDevicePath /dev/usb/lp3\n# Q3's note\n</Printer>\n\n");
    after_ = configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"
                                    "<Printer Q3>\nDevicePath /dev/usb/lp3\n# Q3's note\n</Printer>\n\n"
                                    "<Printer Q1>\nDevicePath /dev/usb/lp1\n</Printer>\n\n");
    resetFiles();
  }

  void resetFiles() {
    writeConf(before_);
    ::unlink((conf() + "~").c_str());
    ::unlink((conf() + ".bak").c_str());
  }

  // strace in front of the binary; LeakSanitizer cannot run under ptrace.
  RunResult traced(const std::vector<std::string>& straceArgs) {
    std::vector<std::string> wrapper{"strace", "-f", "-qq"};
    wrapper.insert(wrapper.end(), straceArgs.begin(), straceArgs.end());
    return runWrapped(wrapper, kAdd, {{"ASAN_OPTIONS", "detect_leaks=0"}});
  }

  // The calls of one undisturbed add, in order.
  std::vector<Syscall> traceAdd() {
    const std::string traceFile = file("trace");
    const RunResult result =
        traced({"-y", "-o", traceFile, "-e", "trace=write,fsync,rename,link,unlink,openat,read"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readConf(), after_);
    resetFiles();
    std::vector<Syscall> calls;
    std::map<std::string, int> counts;
    std::istringstream lines(readFile(traceFile));
    for (std::string line; std::getline(lines, line);) {
      const auto nameStart = line.find_first_not_of("0123456789 ");
      const auto paren = line.find('(', nameStart);
      if (nameStart == std::string::npos || paren == std::string::npos) continue;
      const std::string name = line.substr(nameStart, paren - nameStart);
      calls.push_back({name, ++counts[name], line});
    }
    return calls;
  }

  bool touchesConfiguration(const Syscall& call) const { return call.text.find(dir_.path()) != std::string::npos; }

  std::string before_;
  std::string after_;
};

bool changesFiles(const Syscall& call) {
  if (call.name == "openat") return call.text.find("O_CREAT") != std::string::npos;
  return call.name == "write" || call.name == "fsync" || call.name == "rename" || call.name == "link" ||
         call.name == "unlink";
}

TEST_F(FaultInjectionTest, KilledAtAnyFileChangingCallTheFileIsOldOrNew) {
  int killPoints = 0;
  for (const Syscall& call : traceAdd()) {
    if (!changesFiles(call)) continue;
    SCOPED_TRACE(call.text);
    const std::string inject = "inject=" + call.name + ":signal=KILL:when=" + std::to_string(call.occurrence);
    const RunResult killed = traced({"-o", "/dev/null", "-e", "trace=" + call.name, "-e", inject});
    EXPECT_EQ(killed.status, 128 + 9);
    ++killPoints;
    ASSERT_TRUE(fileExists(conf()));
    const std::string content = readConf();
    EXPECT_TRUE(content == before_ || content == after_);
    const RunResult again = run(kAdd);
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(readConf(), after_);
    EXPECT_FALSE(fileExists(conf() + "~"));
    resetFiles();
  }
  std::printf("kill points exercised: %d\n", killPoints);
  EXPECT_GT(killPoints, 40);
}

TEST_F(FaultInjectionTest, InjectedFailuresChangeNothing) {
  const std::map<std::string, std::string> errors = {{"write", "ENOSPC"}, {"fsync", "EIO"},   {"rename", "EIO"},
                                                     {"link", "EPERM"},   {"read", "EIO"},    {"openat", "EACCES"}};
  std::map<std::string, int> tried;
  for (const Syscall& call : traceAdd()) {
    if (errors.count(call.name) == 0 || !touchesConfiguration(call)) continue;
    SCOPED_TRACE(call.text);
    const std::string inject =
        "inject=" + call.name + ":error=" + errors.at(call.name) + ":when=" + std::to_string(call.occurrence);
    const RunResult result = traced({"-o", "/dev/null", "-e", "trace=" + call.name, "-e", inject});
    ++tried[call.name];
    if (call.name == "link") {
      // A file system without hard links: the backup becomes a copy.
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(readConf(), after_);
      EXPECT_EQ(readFile(conf() + ".bak"), before_);
    } else if (call.text.find("O_DIRECTORY") != std::string::npos ||
               (call.name == "fsync" && call.text.find(conf()) == std::string::npos)) {
      // The directory sync comes after the rename: the new file is in place.
      EXPECT_EQ(result.status, 3);
      EXPECT_NE(result.err.find("cannot sync directory " + dir_.path()), std::string::npos) << result.err;
      EXPECT_EQ(readConf(), after_);
    } else {
      EXPECT_EQ(result.status, 3);
      EXPECT_EQ(result.out, "");
      EXPECT_NE(result.err.find("zorvadmin: cannot "), std::string::npos);
      EXPECT_NE(result.err.find(conf()), std::string::npos) << result.err;
      EXPECT_EQ(readConf(), before_);
    }
    EXPECT_FALSE(fileExists(conf() + "~"));
    resetFiles();
  }
  int total = 0;
  for (const auto& [name, count] : tried) {
    std::printf("injected %s failures: %d\n", name.c_str(), count);
    EXPECT_GT(count, 0) << name;
    total += count;
  }
  std::printf("injected failures in all: %d\n", total);
}

}  // namespace
}  // namespace zorv::test
