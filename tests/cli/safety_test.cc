// Safety promises held against a hostile caller, a racing run and an
// unusual file system, through the real binary: control characters in
// operands, changes that change nothing, backups that must not be
// restored, first runs started together, links in shared directories,
// default ACLs, one read of printers.conf, and --check of files that never
// end or never answer.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cli/cli_fixture.h"
#include "support/syslog_capture.h"

namespace zorv::test {
namespace {

const std::string kQ1Block = "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n\n";

struct stat statOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

int countOf(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class SafetyTest : public CliTest {
 protected:
  std::string withQ1() const { return configWith(cupsRoot(), kQ1Block); }
};

TEST_F(SafetyTest, OperandsWithControlCharactersAreRefused) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"-p", "Q\x1b[31m", "-o", "/dev/null"}, "the queue name must not contain control characters"},
      {{"-p", "Q1", "-o", "/dev/null\x07"}, "the device path must not contain control characters"},
      {{"-x", "Q1\x7f"}, "the queue name must not contain control characters"},
      {{"-x", "Q\t1"}, "the queue name must not contain control characters"},
      {{"--get", "Q1\x1b"}, "the queue name must not contain control characters"},
  };
  writeConf(withQ1());
  for (const Case& c : cases) {
    const RunResult result = run(c.args);
    EXPECT_EQ(result.status, 2) << c.message;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "zorvadmin: " + c.message + "\n");
    expectFiles(withQ1());
  }
}

// Same inode, same time, no backup, no syslog line.
TEST_F(SafetyTest, AChangeThatChangesNothingLeavesTheFileAsItWas) {
  struct Case {
    const char* what;
    std::string content;
    std::vector<std::string> args;
    std::string err;
  };
  const std::string crlf = "<Path>\r\nCUPS_ConfigPath " + cupsRoot() + "\r\n</Path>\r\nstray\r\n<Printer Q1>\r\n"
                           "DevicePath /dev/null\r\n</Printer>\r\n<Ports>\r\n</Ports>\r\n";
  const std::vector<Case> cases = {
      {"removal of a queue with no entry", crlf, {"-x", "Q9"}, "zorvadmin: Q9 has no entry in " + conf() + "; nothing changed\n"},
      {"the device path the entry has", crlf, {"-p", "Q1", "-o", "/dev/null"}, ""},
      {"the same, named in other letters", withQ1(), {"-p", "q1", "-o", "/dev/null"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(conf() + ".bak");
    writeConf(c.content);
    const struct stat before = statOf(conf());
    std::map<std::string, std::string> env = CupsScheduler::shared().clientEnv();
    env["ZORV_CONF"] = conf();
    std::vector<std::string> command{zorvadminPath()};
    command.insert(command.end(), c.args.begin(), c.args.end());
    SyslogRun logged;
    try {
      logged = runCapturingSyslog(command, env);
    } catch (const std::runtime_error& error) {
      GTEST_SKIP() << "no private /dev/log: " << error.what();
    }
    EXPECT_EQ(logged.result.status, 0);
    EXPECT_EQ(logged.result.err, c.err);
    EXPECT_EQ(logged.messages, std::vector<std::string>{});
    const struct stat after = statOf(conf());
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(readConf(), c.content);
    EXPECT_FALSE(fileExists(conf() + ".bak"));
  }
}

TEST_F(SafetyTest, RestoreRefusesABackupItCannotTrust) {
  struct Case {
    const char* problem;
    std::function<void(const std::string&)> make;
  };
  const std::vector<Case> cases = {
      {"is empty", [](const std::string& path) { writeFile(path, ""); }},
      {"is a symbolic link", [this](const std::string& path) { ASSERT_EQ(::symlink(file("other").c_str(), path.c_str()), 0); }},
      {"is not a regular file", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
      {"belongs to another user",
       [](const std::string& path) {
         writeFile(path, "<Ports>\n</Ports>\n");
         ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
       }},
  };
  writeFile(file("other"), "<Ports>\n</Ports>\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    writeConf(withQ1());
    std::filesystem::remove(conf() + ".bak");
    c.make(conf() + ".bak");
    const RunResult result = run({"--restore"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "zorvadmin: cannot restore " + conf() + ": the backup " + conf() + ".bak " + c.problem + "\n");
    EXPECT_EQ(readConf(), withQ1());
    EXPECT_EQ(newFilesLeft(), std::vector<std::string>{});
  }
}

// The backup that is opened must be the one that was looked at: strace
// stops the run right after it looked, and the test puts an empty file in
// its place, which the look would have refused.
TEST_F(SafetyTest, RestoreRefusesABackupSwappedAfterItWasChecked) {
  writeConf(withQ1());
  const std::string backup = conf() + ".bak";
  writeFile(backup, configWith(cupsRoot(), ""));
  const std::string trace = file("trace");
  const std::string pidFile = file("run.pid");
  ASSERT_EQ(::mkfifo(trace.c_str(), 0600), 0);
  RunResult result;
  std::thread running([&] {
    result = runWrapped({"strace", "-qq", "-o", trace, "-P", backup, "-e", "trace=newfstatat,lstat,statx", "-e",
                         "inject=newfstatat,lstat,statx:signal=STOP:when=1", "sh", "-c",
                         "echo $$ >\"$0\"; exec \"$@\"", pidFile},
                        {"--restore", "--quiet"});
  });
  std::ifstream lines(trace);
  int stops = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("stopped by SIGSTOP") == std::string::npos) continue;
    ++stops;
    writeFile(file("swapped"), "");
    std::filesystem::rename(file("swapped"), backup);
    ::kill(std::stoi(readFile(pidFile)), SIGCONT);
  }
  running.join();
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.err, "zorvadmin: cannot open " + backup + ": Resource temporarily unavailable\n");
  EXPECT_EQ(readConf(), withQ1());
  EXPECT_EQ(newFilesLeft(), std::vector<std::string>{});
}

// The restored file is the configuration's: owner and mode come from it,
// never from the backup. An interrupted backup is finished first.
TEST_F(SafetyTest, RestoreKeepsTheOwnerAndModeAndFinishesAnInterruptedBackup) {
  writeConf(withQ1());
  ASSERT_EQ(::chmod(conf().c_str(), 0640), 0);
  writeFile(conf() + ".bak", "older\n");
  writeFile(conf() + ".bak~", configWith(cupsRoot()));  // what a crash left between the renames
  ASSERT_EQ(::chmod((conf() + ".bak~").c_str(), 0666), 0);
  const RunResult result = run({"--restore", "--quiet"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readConf(), configWith(cupsRoot()));
  EXPECT_EQ(statOf(conf()).st_mode & 07777, 0640u);
  EXPECT_EQ(readFile(conf() + ".bak"), withQ1());
  EXPECT_FALSE(fileExists(conf() + ".bak~"));
}

// A backup that is a second name of the configuration (made with ln): the
// rename of the backup in waiting over it does nothing, so it must go by
// hand, by this change or, after a crash, by the next one.
TEST_F(SafetyTest, ABackupHardLinkedToTheConfigurationLeavesNoBackupInWaiting) {
  for (const bool leftByACrash : {false, true}) {
    SCOPED_TRACE(leftByACrash ? "left by a crash" : "this change");
    writeConf(withQ1());
    ::unlink((conf() + ".bak").c_str());
    ASSERT_EQ(::link(conf().c_str(), (conf() + ".bak").c_str()), 0);
    if (leftByACrash) {
      ASSERT_EQ(::link(conf().c_str(), (conf() + ".bak~").c_str()), 0);
    }
    const RunResult result = run({"-x", "Q1", "--quiet"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(conf() + ".bak"), withQ1());
    EXPECT_FALSE(fileExists(conf() + ".bak~"));
  }
}

// What killed runs left at the new files' names is removed by the next
// change (unlinked, never opened), not by a preview; what is not certainly
// such a file stays, and --check names it, one warning each.
TEST_F(SafetyTest, AChangeRemovesWhatKilledRunsLeftAndCheckNamesWhatStays) {
  struct Case {
    const char* what;
    std::string name;
    std::function<void(const std::string&)> make;
    const char* problem;  // nullptr: removed by a change; empty: stays unnamed, not a name of ours
  };
  const auto regular = [](const std::string& path) { writeFile(path, "<Ports>\n</Ports>\n"); };
  const std::vector<Case> cases = {
      {"new file", "zorv.conf~", regular, nullptr},
      {"new file with a suffix", "zorv.conf~aB3dE9", regular, nullptr},
      {"backup copy with a suffix", "zorv.conf.bak~Qq0000", regular, nullptr},
      {"the configuration owner's", "zorv.conf~ownerX",
       [&](const std::string& path) {
         regular(path);
         ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
         ASSERT_EQ(::chown(conf().c_str(), 65534, 65534), 0);
       },
       nullptr},
      {"another user's", "zorv.conf~",
       [&](const std::string& path) {
         regular(path);
         ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
       },
       "belongs to another user"},
      {"symbolic link", "zorv.conf~abcdef", [&](const std::string& path) { ASSERT_EQ(::symlink(conf().c_str(), path.c_str()), 0); },
       "is a symbolic link"},
      {"hard link", "zorv.conf~", [&](const std::string& path) { ASSERT_EQ(::link(file("other").c_str(), path.c_str()), 0); },
       "has other names"},
      {"directory", "zorv.conf~", [](const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0700), 0); }, "is a directory"},
      {"not a name of ours", "zorv.conf~abc", regular, ""},
      {"FIFO", "zorv.conf.bak~abcdef", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
       "is not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeConf(withQ1());
    writeFile(file("other"), "other\n");
    const std::string path = file(c.name);
    std::filesystem::remove_all(path);
    c.make(path);
    const RunResult check = run({"--check"});
    EXPECT_EQ(check.status, 0) << check.err;
    const std::string warning = conf() + ":0: warning: " + path + " " + (c.problem ? c.problem : "") +
                                " at the name of a new file: no change removes it\n";
    const bool warned = c.problem != nullptr && *c.problem != '\0';
    EXPECT_EQ(countOf(check.out, ":0: warning: "), warned ? 1 : 0) << check.out;
    if (warned) {
      EXPECT_NE(check.out.find(warning), std::string::npos) << check.out;
    }
    EXPECT_EQ(run({"--dry-run", "-p", "Q1", "-o", "/dev/zero"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(path)));
    const std::string trace = file("trace");
    const RunResult change = runWrapped({"strace", "-f", "-qq", "-e", "trace=open,openat", "-o", trace},
                                        {"-p", "Q1", "-o", "/dev/zero"}, {{"ASAN_OPTIONS", "detect_leaks=0"}});
    EXPECT_EQ(change.status, 0) << change.err;
    EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(path)), c.problem != nullptr);
    EXPECT_EQ(readFile(trace).find("\"" + path + "\""), std::string::npos);
    std::filesystem::remove_all(path);
    ::chown(conf().c_str(), 0, 0);
  }
}

// Two first runs on a missing file, 50 times: both list the default file,
// neither fails, nothing is left over.
TEST_F(SafetyTest, FirstListingsStartedTogetherNeverBreakEachOther) {
  for (int round = 0; round < 50; ++round) {
    std::filesystem::remove(conf());
    RunResult first;
    RunResult second;
    std::thread other([&] { second = run({"-o", "x"}); });
    first = run({"-o", "x"});
    other.join();
    for (const RunResult* result : {&first, &second}) {
      ASSERT_EQ(result->status, 0) << round << ": " << result->err;
      ASSERT_EQ(result->err, "") << round;
      ASSERT_EQ(result->out, listing("/etc/cups/", "None", 59787, {})) << round;
    }
    ASSERT_EQ(readConf(), kDefaultConfig) << round;
    ASSERT_EQ(newFilesLeft(), std::vector<std::string>{}) << round;
  }
}

// The kernel's protected_symlinks rule, whatever the sysctl says: in a
// world-writable sticky directory only root's own links (or the directory
// owner's) are followed.
TEST_F(SafetyTest, LinksInASharedStickyDirectoryAreFollowedOnlyWhenTrusted) {
  struct Case {
    const char* what;
    mode_t directoryMode;
    uid_t linkOwner;
    std::vector<std::string> args;
    bool followed;
  };
  const std::vector<Case> cases = {
      {"another user's link, sticky /tmp-like directory, remove", 01777, 65534, {"-x", "Q1"}, false},
      {"another user's link, sticky directory, listing", 01777, 65534, {"-o", "x"}, false},
      {"another user's link, sticky directory, --check", 01777, 65534, {"--check"}, false},
      {"root's link, sticky directory", 01777, 0, {"-x", "Q1"}, true},
      {"another user's link, directory not sticky", 0777, 65534, {"-x", "Q1"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir shared;
    TempDir victimDir;
    const std::string victim = victimDir.file("root-only.conf");
    writeFile(victim, withQ1());
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(shared.path().c_str(), c.directoryMode), 0);
    const std::string link = shared.file("zorv.conf");
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_EQ(::lchown(link.c_str(), c.linkOwner, c.linkOwner), 0);
    const RunResult result = run(c.args, {{"ZORV_CONF", link}});
    if (c.followed) {
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(readFile(victim), configWith(cupsRoot()));
    } else {
      EXPECT_EQ(result.status, 3);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err, "zorvadmin: cannot follow the link " + link + ": Permission denied\n");
      EXPECT_EQ(readFile(victim), withQ1());
      EXPECT_EQ(std::filesystem::directory_iterator(shared.path())->path(), link);
    }
  }
}

// A default ACL of the directory never reaches the configuration: the new
// file has what the replaced one had.
TEST_F(SafetyTest, ADefaultAclOfTheDirectoryNeverLandsOnTheConfiguration) {
  writeConf(configWith(cupsRoot()));
  const RunResult acl = runProgram({"setfacl", "-d", "-m", "u:65534:rw", dir_.path()});
  if (acl.status != 0) GTEST_SKIP() << "no default ACLs here: " << acl.err;
  ASSERT_EQ(run({"-p", "Q1", "-o", "/dev/null"}).status, 0);
  EXPECT_EQ(readConf(), withQ1());
  EXPECT_LT(::getxattr(conf().c_str(), "system.posix_acl_access", nullptr, 0), 0);
  EXPECT_EQ(errno, ENODATA);
}

// Every entry's columns come from one read of printers.conf, made while
// the scheduler is asked, before the lock; with --tsv a change lists every
// block, the new one included.
TEST_F(SafetyTest, ColumnsComeFromOneReadOfPrintersConfMadeBeforeTheLock) {
  std::string blocks;
  std::string rows;
  for (int i = 0; i < 14; ++i) {
    blocks += "<Printer Q2>\nDevicePath /dev/usb/lp" + std::to_string(i) + "\n</Printer>\n";
    rows += "entry\tQ2\t/dev/usb/lp" + std::to_string(i) + "\tparallel\t/dev/lp0\tok\n";
  }
  const std::string settings = "setting\tCUPS_ConfigPath\t" + cupsRoot() + "\nsetting\tLogDirectoryPath\t\nsetting\tUI_Port\t59787\n";
  const std::string q1 = "entry\tQ1\t/dev/null\tzorv\t/var/run/zorv/Q1.fifo\tok\n";
  const std::string q3 = "entry\tQ3\t/dev/usb/lp16\tusb\t//Zorv/ZPR4410\tok\n";
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"--tsv", "-p", "Q3", "-o", "/dev/null"}, settings + rows + "entry\tQ3\t/dev/null\tusb\t//Zorv/ZPR4410\tok\n"},
      {{"--tsv", "-p", "Q1", "-o", "/dev/null"}, settings + rows + q3 + q1},  // the operand's queue too
      {{"--tsv", "-x", "Q3"}, settings + rows},
      {{"--tsv"}, settings + rows + q3},
      {{"-o", "x"}, ""},  // the classic listing: its table is compared below
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    writeConf(configWith(cupsRoot(), blocks + "<Printer Q3>\nDevicePath /dev/usb/lp16\n</Printer>\n"));
    const std::string trace = file("trace");
    const RunResult result = runWrapped({"strace", "-f", "-qq", "-e", "trace=open,openat,flock", "-o", trace}, c.args,
                                        {{"ASAN_OPTIONS", "detect_leaks=0"}});
    EXPECT_EQ(result.status, 0) << result.err;
    if (c.out.empty()) {
      EXPECT_NE(result.out.find(" : Q2 \t: parallel \t\t: /dev/lp0 \t: /dev/usb/lp13 \t: \n"), std::string::npos) << result.out;
    } else {
      EXPECT_EQ(result.out, c.out);
    }
    const std::string calls = readFile(trace);
    EXPECT_EQ(countOf(calls, cupsRoot() + "printers.conf\""), 1);
    EXPECT_LT(calls.find(cupsRoot() + "printers.conf\""), calls.find("flock(")) << calls;
  }
  // More names than a run remembers: no read ahead that the listing could
  // not use.
  std::string many;
  for (int i = 0; i < 4100; ++i) many += "<Printer Many" + std::to_string(i) + ">\nDevicePath /dev/null\n</Printer>\n";
  writeConf(configWith(cupsRoot(), many));
  const std::string trace = file("trace");
  const RunResult result = runWrapped({"strace", "-f", "-qq", "-e", "trace=open,openat", "-o", trace}, {"--tsv"},
                                      {{"ASAN_OPTIONS", "detect_leaks=0"}});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(countOf(readFile(trace), cupsRoot() + "printers.conf\""), 1);
}

TEST_F(SafetyTest, CheckNeverBlocksOnAKernelFileAndStreamsABigFile) {
  const RunResult kmsg = run({"--check", "/proc/kmsg"});
  EXPECT_EQ(kmsg.status, 3);
  EXPECT_EQ(kmsg.err, "zorvadmin: cannot read /proc/kmsg: Resource temporarily unavailable\n");
#ifdef ZORV_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime reserves more address space than the bound below";
#else
  // 40 MB of blocks and lines a rewrite would drop, checked within 200 MB.
  std::string big = configWith(cupsRoot());
  std::string blocks;
  for (int i = 0; i < 200000; ++i) blocks += "<Printer Q2>\nDevicePath /dev/null\njunk line number " + std::to_string(i) + "\n</Printer>\n";
  writeFile(file("big.conf"), big.insert(big.find("<Ports>"), blocks));
  const RunResult result = runWrapped({"prlimit", "--as=200000000"}, {"--check", file("big.conf")});
  EXPECT_EQ(result.status, 2) << result.err;
  EXPECT_EQ(result.err, "");
  // Blocks past the table are copied as they stand: only the first 16 lose lines.
  EXPECT_EQ(countOf(result.out, ": unknown line in a printer block; a rewrite drops it\n"), 16);
  EXPECT_EQ(countOf(result.out, ": a second block for Q2; the first is at line "), 199999);
#endif
}

}  // namespace
}  // namespace zorv::test
