// Since 1.2, --tsv without -p or -x and --get only read: they need no root
// (the completion runs them as the administrator's ordinary user), never
// create the configuration or its lock, and read without the lock when the
// caller may not open it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

using Names = std::vector<std::string>;

enum class Conf { Missing, Readable, Unreadable };
enum class Lock { None, RootOnly };
enum class Who { Root, Nobody };

// What the listing prints: the settings, then Q1's entry as root sees it
// (printers.conf read) or as nobody does (printers.conf unreadable).
enum class Out { Nothing, RootListing, NobodyListing, DevicePath };

struct Case {
  const char* what;
  Who who;
  Conf conf;
  Lock lock;
  std::vector<std::string> args;
  int status;
  Out out;
  const char* err;  // "%s" stands for the configuration's name
  Names left;       // the files in the directory afterwards
};

const Names kConfOnly = {"zorv.conf"};
const Names kConfAndLock = {"zorv.conf", "zorv.conf.lock"};
const char* const kNoSuchFile = "zorvadmin: cannot open %s: No such file or directory\n";
const char* const kNotRoot = "This Command must be run as root\n";

const std::vector<Case> kCases = {
    // A missing file is an error for a read, as root too: nothing is created.
    {"--tsv, root, no file", Who::Root, Conf::Missing, Lock::None, {"--tsv"}, 3, Out::Nothing, kNoSuchFile, {}},
    {"--tsv, nobody, no file", Who::Nobody, Conf::Missing, Lock::None, {"--tsv"}, 3, Out::Nothing, kNoSuchFile, {}},
    {"--get, nobody, no file", Who::Nobody, Conf::Missing, Lock::None, {"--get", "Q1"}, 3, Out::Nothing, kNoSuchFile,
     {}},
    // A lock file only root may open: the read goes on without it.
    {"--tsv, nobody, root's lock", Who::Nobody, Conf::Readable, Lock::RootOnly, {"--tsv"}, 0, Out::NobodyListing, "",
     kConfAndLock},
    {"--tsv -o, nobody (only lists)", Who::Nobody, Conf::Readable, Lock::RootOnly, {"--tsv", "-o", "/dev/x"}, 0,
     Out::NobodyListing, "zorvadmin: warning: -o /dev/x is ignored: a device path goes only with -p\n", kConfAndLock},
    {"--tsv -p alone, nobody (a lone argument)", Who::Nobody, Conf::Readable, Lock::RootOnly, {"--tsv", "-p"}, 0,
     Out::NobodyListing, "zorvadmin: warning: -p is ignored: no word follows it\n", kConfAndLock},
    {"--get, nobody, root's lock", Who::Nobody, Conf::Readable, Lock::RootOnly, {"--get", "q1"}, 0, Out::DevicePath,
     "", kConfAndLock},
    // No lock file: a read creates none, as root either.
    {"--tsv, nobody, no lock", Who::Nobody, Conf::Readable, Lock::None, {"--tsv"}, 0, Out::NobodyListing, "",
     kConfOnly},
    {"--tsv, root, no lock", Who::Root, Conf::Readable, Lock::None, {"--tsv"}, 0, Out::RootListing, "", kConfOnly},
    {"--tsv, root, root's lock", Who::Root, Conf::Readable, Lock::RootOnly, {"--tsv"}, 0, Out::RootListing, "",
     kConfAndLock},
    // What nobody may not read is a file error.
    {"--tsv, nobody, unreadable file", Who::Nobody, Conf::Unreadable, Lock::RootOnly, {"--tsv"}, 3, Out::Nothing,
     "zorvadmin: cannot open %s: Permission denied\n", kConfAndLock},
    // Everything else still needs root.
    {"--tsv -p Q1 -o, nobody", Who::Nobody, Conf::Readable, Lock::RootOnly, {"--tsv", "-p", "Q1", "-o", "/dev/x"}, 1,
     Out::Nothing, kNotRoot, kConfAndLock},
    {"--tsv -x Q1, nobody", Who::Nobody, Conf::Readable, Lock::RootOnly, {"--tsv", "-x", "Q1"}, 1, Out::Nothing,
     kNotRoot, kConfAndLock},
    {"the classic listing, nobody", Who::Nobody, Conf::Readable, Lock::RootOnly, {}, 1, Out::Nothing, kNotRoot,
     kConfAndLock},
};

class ReadOnlyTest : public CliTest {
 protected:
  // nobody must reach the files of the test's directory.
  void SetUp() override { ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0); }

  Names filesLeft() const {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  void clear() const {
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) std::filesystem::remove(entry.path());
  }
};

std::string withName(const char* text, const std::string& name) {
  std::string result = text;
  if (const std::size_t at = result.find("%s"); at != std::string::npos) result.replace(at, 2, name);
  return result;
}

TEST_F(ReadOnlyTest, TsvAndGetNeedNoRootAndCreateNothing) {
  const std::string content = configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n\n");
  const std::string settings =
      "setting\tCUPS_ConfigPath\t" + cupsRoot() + "\nsetting\tLogDirectoryPath\t\nsetting\tUI_Port\t59787\n";
  // nobody cannot read the scheduler's printers.conf: no backend, no FIFO.
  const bool nobodyReadsPrintersConf =
      runProgram({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "cat", cupsRoot() + "printers.conf"})
          .status == 0;
  const std::string rootEntry = "entry\tQ1\t/dev/null\tzorv\t/var/run/zorv/Q1.fifo\tok\n";
  const std::string nobodyEntry = nobodyReadsPrintersConf ? rootEntry : "entry\tQ1\t/dev/null\t\t\tok\n";
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    clear();
    if (c.conf != Conf::Missing) {
      writeConf(content);
      ASSERT_EQ(::chmod(conf().c_str(), c.conf == Conf::Readable ? 0644 : 0600), 0);
    }
    if (c.lock == Lock::RootOnly) {
      writeFile(conf() + ".lock", "");
      ASSERT_EQ(::chmod((conf() + ".lock").c_str(), 0600), 0);
    }
    const RunResult result = c.who == Who::Root ? run(c.args) : runWrapped(kAsNobody, c.args);
    EXPECT_EQ(result.status, c.status);
    switch (c.out) {
      case Out::Nothing: EXPECT_EQ(result.out, ""); break;
      case Out::RootListing: EXPECT_EQ(result.out, settings + rootEntry); break;
      case Out::NobodyListing: EXPECT_EQ(result.out, settings + nobodyEntry); break;
      case Out::DevicePath: EXPECT_EQ(result.out, "/dev/null\n"); break;
    }
    EXPECT_EQ(result.err, withName(c.err, conf()));
    EXPECT_EQ(filesLeft(), c.left);
    if (c.conf != Conf::Missing) {
      EXPECT_EQ(readConf(), content);
    }
  }
}

}  // namespace
}  // namespace zorv::test
