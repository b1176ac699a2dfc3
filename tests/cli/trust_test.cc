// File handling an administrator can trust, tried as a careful administrator
// and as an attacker would: links and stale files at the companion names,
// owners and modes, configurations that are links or no files at all, a
// rename that fails, operands that would not read back, set-user-ID runs,
// read-only file systems, lost output and signals, all through the binary.
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "cli/cli_fixture.h"
#include "support/stand_in_socket.h"
#include "support/syslog_capture.h"

namespace zorv::test {
namespace {

// Character devices that exist everywhere, so no run warns about them.
const std::string kQ1Block = "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n\n";
const std::vector<std::string> kAddQ1 = {"-p", "Q1", "-o", "/dev/null"};
const std::vector<std::string> kList = {"-o", "x"};

struct stat lstatOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

std::string linkTarget(const std::string& path) {
  char target[4096] = {};
  const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
  return length < 0 ? "" : std::string(target, static_cast<std::size_t>(length));
}

// A character device like /dev/zero, inside the test's own directory so
// nothing is created beside the real one.
bool makeZeroDevice(const std::string& path) { return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0; }

// Every file in dir whose bytes hold text.
std::vector<std::string> filesHolding(const std::string& dir, const std::string& text) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file() && readFile(entry.path()).find(text) != std::string::npos) {
      found.push_back(entry.path().filename());
    }
  }
  return found;
}

class TrustTest : public CliTest {
 protected:
  std::string list(const std::vector<Row>& rows) const { return listing(cupsRoot(), "None", 59787, rows); }
  std::string added() const { return configWith(cupsRoot(), kQ1Block); }

  // The binary started by sh after prelude (a umask, a redirection ...).
  RunResult runAfter(const std::string& prelude, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {}) const {
    return runWrapped({"sh", "-c", prelude + "\nexec \"$@\"", "sh"}, args, env);
  }
};

// A stale new file that is a link never makes a run write through it, nor
// is it removed: the link's target keeps its bytes and its links, and the
// configuration is a file of its own.
TEST_F(TrustTest, StaleLinkAtTheNewFileNameIsNeverWrittenThrough) {
  struct Case {
    const char* what;
    bool symbolic;
    bool configExists;  // an add; else a list that creates the default file
  };
  for (const Case& c : {Case{"symbolic link, add", true, true}, Case{"hard link, add", false, true},
                        Case{"symbolic link, default file", true, false}, Case{"hard link, default file", false, false}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string config = dir.file("zorv.conf");
    const std::string victim = dir.file("victim");
    writeFile(victim, "victim bytes\n");
    ASSERT_EQ(c.symbolic ? ::symlink(victim.c_str(), (config + "~").c_str()) : ::link(victim.c_str(), (config + "~").c_str()),
              0);
    if (c.configExists) writeFile(config, configWith(cupsRoot()));
    const RunResult result = run(c.configExists ? kAddQ1 : kList, {{"ZORV_CONF", config}});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(victim), "victim bytes\n");
    EXPECT_EQ(lstatOf(victim).st_nlink, c.symbolic ? 1U : 2U);
    EXPECT_EQ(S_ISLNK(lstatOf(config + "~").st_mode), c.symbolic);
    EXPECT_TRUE(S_ISREG(lstatOf(config).st_mode));
    EXPECT_EQ(readFile(config), c.configExists ? added() : kDefaultConfig);
  }
}

TEST_F(TrustTest, LockFileThatIsALinkIsAFileError) {
  const std::string before = configWith(cupsRoot());
  writeConf(before);
  const std::string target = file("made-through-the-link");
  ASSERT_EQ(::symlink(target.c_str(), (conf() + ".lock").c_str()), 0);
  for (const auto& args : {kList, kAddQ1}) {
    const RunResult result = run(args);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "zorvadmin: cannot open " + conf() + ".lock: Too many levels of symbolic links\n");
    EXPECT_FALSE(fileExists(target));
    EXPECT_EQ(linkTarget(conf() + ".lock"), target);
    expectFiles(before);
  }
}

// A daemon that reads the file as lp keeps reading it after a change made
// under any umask; ACLs and labels (here a user attribute) go along.
TEST_F(TrustTest, RewriteKeepsOwnerGroupModeAndExtendedAttributes) {
  const group* lp = ::getgrnam("lp");
  const gid_t gid = lp != nullptr ? lp->gr_gid : 7;
  struct Case {
    const char* prelude;
    mode_t mode;
  };
  for (const Case& c : {Case{"", 0640}, Case{"umask 077", 0640}, Case{"umask 0777", 0604}}) {
    SCOPED_TRACE(c.prelude);
    writeConf(configWith(cupsRoot()));
    ASSERT_EQ(::chown(conf().c_str(), 0, gid), 0);
    ASSERT_EQ(::chmod(conf().c_str(), c.mode), 0);
    const bool hasAttributes = ::setxattr(conf().c_str(), "user.test", "kept", 4, 0) == 0;
    const RunResult result = runAfter(c.prelude, kAddQ1);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readConf(), added());
    const struct stat info = lstatOf(conf());
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, c.mode);
    EXPECT_EQ(info.st_uid, 0U);
    EXPECT_EQ(info.st_gid, gid);
    if (hasAttributes) {
      char value[16] = {};
      EXPECT_EQ(::getxattr(conf().c_str(), "user.test", value, sizeof value), 4);
      EXPECT_STREQ(value, "kept");
    }
  }
}

TEST_F(TrustTest, DefaultFileIsReadableByAllWhateverTheUmask) {
  for (const char* prelude : {"umask 077", "umask 0777"}) {
    SCOPED_TRACE(prelude);
    TempDir dir;
    const std::string config = dir.file("zorv.conf");
    const RunResult result = runAfter(prelude, kList, {{"ZORV_CONF", config}});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(config), kDefaultConfig);
    const struct stat info = lstatOf(config);
    EXPECT_EQ(info.st_mode & 07777, 0644U);
    EXPECT_EQ(info.st_uid, 0U);
    EXPECT_EQ(info.st_gid, 0U);
    EXPECT_EQ(lstatOf(config + ".lock").st_mode & 07777, 0600U);
  }
}

TEST_F(TrustTest, ConfigurationThatIsALinkIsChangedWhereItPoints) {
  struct Case {
    const char* what;
    bool relative;
  };
  for (const Case& c : {Case{"absolute link to another directory", false}, Case{"relative link", true}}) {
    SCOPED_TRACE(c.what);
    TempDir linkDir;
    TempDir otherDir;
    const std::string link = linkDir.file("zorv.conf");
    std::string real = otherDir.file("real.conf");
    std::string target = real;
    if (c.relative) {
      ASSERT_EQ(::mkdir(linkDir.file("sub").c_str(), 0755), 0);
      real = linkDir.file("sub/real.conf");
      target = "sub/real.conf";
    }
    const std::string before = configWith(cupsRoot());
    writeFile(real, before);
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    for (const auto& args : {kAddQ1, std::vector<std::string>{"-p", "Q2", "-o", "/dev/zero"}}) {
      const RunResult result = run(args, {{"ZORV_CONF", link}});
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_TRUE(S_ISLNK(lstatOf(link).st_mode));
      EXPECT_EQ(linkTarget(link), target);
    }
    EXPECT_EQ(readFile(real),
              configWith(cupsRoot(), kQ1Block + "<Printer Q2>\nDevicePath /dev/zero\n</Printer>\n\n"));
    EXPECT_EQ(readFile(real + ".bak"), added());
    EXPECT_TRUE(fileExists(real + ".lock"));
    EXPECT_FALSE(fileExists(real + "~"));
    EXPECT_FALSE(fileExists(real + ".bak~"));
    for (const char* suffix : {"~", ".bak", ".lock", ".bak~"}) EXPECT_FALSE(fileExists(link + suffix)) << suffix;
  }
}

// A FIFO would block the run while it holds the lock, a device would feed
// it forever: both are refused at once (timeout keeps a hang from hanging
// the suite).
TEST_F(TrustTest, ConfigurationThatIsNotARegularFileIsAFileError) {
  // A FIFO named directly.
  ASSERT_EQ(::mkfifo(conf().c_str(), 0644), 0);
  for (const auto& args : {kList, kAddQ1}) {
    const RunResult result = runWrapped({"timeout", "10"}, args);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "zorvadmin: cannot read " + conf() + ": not a regular file\n");
    EXPECT_TRUE(S_ISFIFO(lstatOf(conf()).st_mode));
    EXPECT_FALSE(fileExists(conf() + "~"));
    EXPECT_FALSE(fileExists(conf() + ".bak"));
  }

  // A link to a device that reads zeros without end.
  TempDir dir;
  const std::string device = dir.file("zero");
  const std::string link = dir.file("zorv.conf");
  if (!makeZeroDevice(device)) GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
  ASSERT_EQ(::symlink(device.c_str(), link.c_str()), 0);
  for (const auto& args : {kList, kAddQ1}) {
    const RunResult result = runWrapped({"timeout", "10"}, args, {{"ZORV_CONF", link}});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "zorvadmin: cannot read " + device + ": not a regular file\n");
    EXPECT_TRUE(S_ISLNK(lstatOf(link).st_mode));
    EXPECT_TRUE(S_ISCHR(lstatOf(device).st_mode));
    for (const char* suffix : {"~", ".bak"}) {
      EXPECT_FALSE(fileExists(link + suffix));
      EXPECT_FALSE(fileExists(device + suffix));
    }
  }
}

// A printers.conf that is no file is as unreadable as a missing one, with
// one word on standard error; an add still ends and is made.
TEST_F(TrustTest, PrintersConfThatIsNotARegularFileLeavesTheSpoolerColumnsEmpty) {
  const std::string cupsDir = file("cups") + "/";
  ASSERT_EQ(::mkdir(cupsDir.c_str(), 0755), 0);
  const std::string printersConf = cupsDir + "printers.conf";
  const std::string blocks = "<Printer Q1>\nDevicePath /dev/a\n</Printer>\n<Printer Q2>\nDevicePath /dev/b\n</Printer>\n";
  const std::string message = "zorvadmin: cannot read " + printersConf + ": not a regular file\n";
  const std::vector<Row> rows = {{"Q1", "", kNoFifo, "/dev/a", ""}, {"Q2", "", kNoFifo, "/dev/b", ""}};
  for (const bool fifo : {true, false}) {
    SCOPED_TRACE(fifo ? "FIFO" : "device");
    ::unlink(printersConf.c_str());
    if (fifo) {
      ASSERT_EQ(::mkfifo(printersConf.c_str(), 0644), 0);
    } else if (!makeZeroDevice(printersConf)) {
      GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
    }
    writeConf(configWith(cupsDir, blocks));
    const RunResult listed = runWrapped({"timeout", "10"}, kList);
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, listing(cupsDir, "None", 59787, rows));
    EXPECT_EQ(listed.err, message);

    const RunResult add = runWrapped({"timeout", "10"}, {"-p", "Q3", "-o", "/dev/full"});
    EXPECT_EQ(add.status, 0);
    std::vector<Row> withQ3 = rows;
    withQ3.push_back({"Q3", "", kNoFifo, "/dev/full", "New!!"});
    EXPECT_EQ(add.out, listing(cupsDir, "None", 59787, withQ3));
    EXPECT_EQ(add.err, message);
    EXPECT_EQ(readConf(), configWith(cupsDir, blocks + "<Printer Q3>\nDevicePath /dev/full\n</Printer>\n\n"));
  }
}

// The backup changes only once the new file is in place: a rename that
// fails (a bind-mounted configuration gives EBUSY) keeps it, inode and all.
TEST_F(TrustTest, FailedRenameKeepsTheBackupAndALaterRunCleansUp) {
  const std::string before = configWith(cupsRoot());
  writeConf(before);
  writeFile(conf() + ".bak", "older backup\n");
  const ino_t backupInode = lstatOf(conf() + ".bak").st_ino;
  const RunResult result =
      runWrapped({"strace", "-f", "-qq", "-o", "/dev/null", "-e", "inject=rename,renameat,renameat2:error=EBUSY:when=1",
                  "-P", conf() + "~"},
                 kAddQ1, {{"ASAN_OPTIONS", "detect_leaks=0"}});  // LeakSanitizer cannot run under ptrace
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "zorvadmin: cannot rename " + conf() + "~: Device or resource busy\n");
  EXPECT_EQ(readConf(), before);
  EXPECT_EQ(readFile(conf() + ".bak"), "older backup\n");
  EXPECT_EQ(lstatOf(conf() + ".bak").st_ino, backupInode);
  EXPECT_FALSE(fileExists(conf() + "~"));
  EXPECT_FALSE(fileExists(conf() + ".bak~"));

  // What a crash between the steps leaves is cleaned up by the next change.
  writeFile(conf() + ".bak~", "left by a crash\n");
  EXPECT_EQ(run(kAddQ1).status, 0);
  EXPECT_EQ(readConf(), added());
  EXPECT_EQ(readFile(conf() + ".bak"), before);
  EXPECT_FALSE(fileExists(conf() + ".bak~"));
  EXPECT_FALSE(fileExists(conf() + "~"));
}

// The line of a change is sent before the change is committed, and the
// commit with its lines is one step that INT, TERM, HUP and QUIT cannot
// interrupt: killed at the rename, a run has logged its change; a rename
// that fails is logged as the change, then as the failure; a signal that
// arrives at the rename acts once the change is made, backup and all.
TEST_F(TrustTest, EachCommitIsLoggedBeforeItIsMade) {
  const std::string before = configWith(cupsRoot());
  const std::string root = "root (uid 0) ";
  const std::string setQ1 = root + "set the device path of queue Q1 from (none) to /dev/null in ";
  const std::string setPort = root + "set UI_Port from 59787 to 59788 in ";
  const std::string restored = root + "restored CONF from its backup; device paths: Q1 from (none) to /dev/null";
  struct Case {
    std::vector<std::string> args;
    std::string inject;  // at the first rename
    int status;
    bool changed;
    std::vector<std::string> lines;  // CONF for the configuration; a failure line is matched up to its reason
  };
  const std::vector<Case> cases = {
      {kAddQ1, "signal=KILL", 128 + SIGKILL, false, {setQ1 + "CONF"}},
      {kAddQ1, "error=EBUSY", 3, false,
       {setQ1 + "CONF", root + "could not set the device path of queue Q1 to /dev/null in CONF: "}},
      {kAddQ1, "signal=TERM", 128 + SIGTERM, true, {setQ1 + "CONF"}},
      {{"-x", "Q1"}, "signal=QUIT", 128 + SIGQUIT, true,
       {root + "removed the entry of queue Q1 (device path /dev/null) from CONF"}},
      {{"--set", "UI_Port", "59788"}, "signal=KILL", 128 + SIGKILL, false, {setPort + "CONF"}},
      {{"--set", "UI_Port", "59788"}, "signal=INT", 128 + SIGINT, true, {setPort + "CONF"}},
      {{"--set", "UI_Port", "59788"}, "error=EBUSY", 3, false,
       {setPort + "CONF", root + "could not set UI_Port in CONF: "}},
      {{"--restore"}, "signal=KILL", 128 + SIGKILL, false, {restored}},
      {{"--restore"}, "signal=HUP", 128 + SIGHUP, true, {restored}},
      {{"--restore"}, "error=EBUSY", 3, false, {restored, root + "could not restore CONF from its backup: "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.inject);
    TempDir dir;
    const std::string config = dir.file("zorv.conf");
    const std::string original = c.args[0] == "-x" ? added() : before;
    writeFile(config, original);
    if (c.args[0] == "--restore") writeFile(config + ".bak", added());
    std::vector<std::string> command{"sh", "-c", "echo 4294967295 >/proc/self/loginuid && exec \"$@\"", "sh",
                                     "strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                     "inject=rename,renameat,renameat2:" + c.inject + ":when=1", zorvadminPath()};
    command.insert(command.end(), c.args.begin(), c.args.end());
    std::map<std::string, std::string> env = runEnv({{"ZORV_CONF", config}});
    env["ASAN_OPTIONS"] = "detect_leaks=0";  // LeakSanitizer cannot run under ptrace
    SyslogRun logged;
    try {
      logged = runCapturingSyslog(command, env);
    } catch (const std::runtime_error& error) {
      GTEST_SKIP() << "no private /dev/log: " << error.what();
    }
    EXPECT_EQ(logged.result.status, c.status) << logged.result.err;
    EXPECT_EQ(readFile(config) != original, c.changed);
    // Made means made whole: the replaced version is the backup.
    if (c.changed) {
      EXPECT_EQ(readFile(config + ".bak"), original);
    }
    ASSERT_EQ(logged.messages.size(), c.lines.size()) << ::testing::PrintToString(logged.messages);
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
      const std::optional<SyslogMessage> message = parseSyslogMessage(logged.messages[i]);
      ASSERT_TRUE(message.has_value()) << logged.messages[i];
      std::string expected = c.lines[i];
      expected.replace(expected.find("CONF"), 4, config);
      const bool failure = i == 1;
      EXPECT_EQ(message->level, failure ? 4 : 5);
      EXPECT_EQ(message->text.substr(0, failure ? expected.size() : std::string::npos), expected);
      if (failure) {
        EXPECT_TRUE(message->text.ends_with(": Device or resource busy")) << message->text;
      }
    }
  }
}

// An operand is stored exactly or refused before any file is read or made.
TEST_F(TrustTest, OperandsThatWouldNotReadBackAreRefusedBeforeAnyFileIsTouched) {
  const std::string longName(256, 'Q');
  const std::string longDevice = "/dev/" + std::string(251, 'd');
  const std::string queueTooLong = "zorvadmin: the queue name is longer than 255 bytes\n";
  const std::string deviceTooLong = "zorvadmin: the device path is longer than 255 bytes\n";
  const std::string queueStart = "zorvadmin: the queue name must not begin with a space, a tab or a colon\n";
  const std::string deviceStart = "zorvadmin: the device path must not begin with a space, a tab or a colon\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"-p", longName, "-o", "/dev/x"}, queueTooLong},
      {{"-x", longName}, queueTooLong},
      {{"-p", "Q1", "-o", longDevice}, deviceTooLong},
      {{"-p", " Q1", "-o", "/dev/x"}, queueStart},
      {{"-p", "\tQ1", "-o", "/dev/x"}, queueStart},
      {{"-p", ":Q1", "-o", "/dev/x"}, queueStart},
      {{"-x", ":Q1"}, queueStart},
      {{"-x", " Q1"}, queueStart},
      {{"-p", "Q1", "-o", " /dev/x"}, deviceStart},
      {{"-p", "Q1", "-o", "\t/dev/x"}, deviceStart},
      {{"-p", "Q1", "-o", ":/dev/x"}, deviceStart},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " [" + c.args[1].substr(0, 8) + "] " + (c.args.size() > 3 ? c.args[3].substr(0, 8) : ""));
    const RunResult result = run(c.args);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
    EXPECT_FALSE(fileExists(conf()));
    EXPECT_FALSE(fileExists(conf() + ".lock"));
  }

  // 255 bytes fit, and are stored whole.
  const std::string device = "/dev/" + std::string(250, 'd');
  writeConf(configWith(cupsRoot()));
  const RunResult result = run({"-p", "Q1", "-o", device});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, list({{"Q1", "zorv", "/var/run/zorv/Q1.fifo", device, "New!!"}}));
  EXPECT_EQ(readConf(), configWith(cupsRoot(), "<Printer Q1>\nDevicePath " + device + "\n</Printer>\n\n"));
}

TEST_F(TrustTest, PrintersConfScanComparesNamesAsTheSchedulerDoes) {
  writeConf(configWith(cupsRoot(), "<Printer q2>\nDevicePath /dev/q\n</Printer>\n<Printer q3>\n</Printer>\n"));
  const RunResult result = run(kList);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, list({{"q2", "parallel", "/dev/lp0", "/dev/q", ""}, {"q3", "usb", "//Zorv/ZPR4410", "", ""}}));
}

TEST_F(TrustTest, KeywordFollowedOnlyBySeparatorsHasAnEmptyValue) {
  // The last line has no terminator.
  writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath : \n</Printer>\n<Printer Q3>\nDevicePath\t:\n</Printer>\n"
                                   "<Printer Q1>\nDevicePath:\n</Printer>\n") +
            "<Path>\nLogDirectoryPath :");
  const RunResult result = run(kList);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, list({{"Q2", "parallel", "/dev/lp0", "", ""},
                              {"Q3", "usb", "//Zorv/ZPR4410", "", ""},
                              {"Q1", "zorv", "/var/run/zorv/Q1.fifo", "", ""}}));
}

// A set-user-ID root copy of the binary in shared (readable by everyone),
// beside an empty "realetc" where a private /etc keeps the real one.
void makeSetUserIdCopy(const TempDir& shared) {
  ASSERT_EQ(::chmod(shared.path().c_str(), 0755), 0);
  const std::string binary = shared.file("zorvadmin");
  std::filesystem::copy_file(zorvadminPath(), binary);
  ASSERT_EQ(::chown(binary.c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(binary.c_str(), 04755), 0);
  ASSERT_EQ(::mkdir(shared.file("realetc").c_str(), 0755), 0);
}

// Installed set-user-ID root, the binary is run by nobody. The caller's
// scheduler (CUPS_SERVER, ~/.cups/client.conf) must never be asked, not
// even by the questions that need no root, which read only what the caller
// could read; the caller's umask never reaches a file, and the caller's
// SUDO_USER never names the person in the syslog line. Such a run
// administers /etc/zorv.conf whatever ZORV_CONF says, so it runs in a
// private mount namespace with a tmpfs over /etc that links to the real
// entries: the real /etc is never written.
TEST_F(TrustTest, SetUserIdRunTakesNothingFromItsCaller) {
#ifdef ZORV_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime does not run set-user-ID";
#endif
  TempDir shared;  // readable by nobody: the binary, HOME and the sockets
  ASSERT_NO_FATAL_FAILURE(makeSetUserIdCopy(shared));
  const std::string binary = shared.file("zorvadmin");
  ASSERT_EQ(::mkdir(shared.file("home").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(shared.file("home/.cups").c_str(), 0755), 0);
  StandInSocket fromEnvironment(shared.file("env.sock"), StandInSocket::Mode::CloseAtOnce);
  StandInSocket fromClientConf(shared.file("client.sock"), StandInSocket::Mode::CloseAtOnce);
  writeFile(shared.file("home/.cups/client.conf"), "ServerName " + shared.file("client.sock") + "\n");
  writeFile(shared.file("secret.conf"), "<Printer Secret>\nDevicePath root-only\n</Printer>\n");
  ASSERT_EQ(::chmod(shared.file("secret.conf").c_str(), 0600), 0);

  std::string asNobody;
  for (const std::string& word : kAsNobody) asNobody += (asNobody.empty() ? "" : " ") + word;
  const std::string script = R"(set -e
echo 4294967295 >/proc/self/loginuid  # no login session: the log names the real user alone
mount --bind /etc "$1/realetc"
mount -t tmpfs -o mode=0755 zorvetc /etc
for f in "$1"/realetc/*; do
  case "${f##*/}" in zorv.conf*) ;; *) ln -s "$f" /etc/ ;; esac
done
set +e
asNobody() { (umask 0777; exec timeout 60 )" + asNobody + R"( "$@" >/dev/null); }
asNobody "$1/zorvadmin" -o x; echo "list $?"
stat -c '%a %u %g' /etc/zorv.conf /etc/zorv.conf.lock
cmp -s /etc/zorv.conf "$1/expected.conf" && echo "default file"
asNobody "$1/zorvadmin" -p Q1 -o /dev/x
asNobody env -u CUPS_SERVER "$1/zorvadmin" -p Q1 -o /dev/x
asNobody "$1/zorvadmin" --check /etc/zorv.conf 2>/dev/null
asNobody "$1/zorvadmin" --get Q1 2>/dev/null
asNobody "$1/zorvadmin" --check "$1/secret.conf"; echo "check $?"
cp "$1/withq1.conf" /etc/zorv.conf
asNobody env SUDO_USER="root
zorvadmin[1]: forged" "$1/zorvadmin" -x Q1 2>/dev/null; echo "remove $?"
exit 0
)";
  writeFile(shared.file("expected.conf"), kDefaultConfig);
  writeFile(shared.file("withq1.conf"), configWith("/etc/cups/", "<Printer Q1>\nDevicePath /dev/x\n</Printer>\n"));
  SyslogRun run;
  try {
    run = runCapturingSyslog({"unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh", shared.path()},
                             {{"CUPS_SERVER", shared.file("env.sock")},
                              {"HOME", shared.file("home")},
                              {"ZORV_CONF", conf()}});
  } catch (const std::runtime_error& error) {
    GTEST_SKIP() << "no private /dev/log: " << error.what();
  }
  EXPECT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_EQ(run.result.out, "list 0\n644 0 0\n600 0 0\ndefault file\ncheck 3\nremove 0\n") << run.result.err;
  EXPECT_NE(run.result.err.find("zorvadmin: cannot open " + shared.file("secret.conf") + ": Permission denied\n"),
            std::string::npos)
      << run.result.err;
  EXPECT_EQ(run.result.err.find("Secret"), std::string::npos) << run.result.err;
  EXPECT_EQ(fromEnvironment.connections(), 0);
  EXPECT_EQ(fromClientConf.connections(), 0);
  EXPECT_FALSE(fileExists(conf()));
  // The two adds were refused (the machine's own scheduler, whatever it
  // says, decides why); the remove was made. Never the caller's SUDO_USER.
  ASSERT_EQ(run.messages.size(), 3u);
  for (std::size_t i = 0; i < run.messages.size(); ++i) {
    const std::optional<SyslogMessage> message = parseSyslogMessage(run.messages[i]);
    ASSERT_TRUE(message.has_value()) << run.messages[i];
    if (i < 2) {
      EXPECT_EQ(message->level, 4);
      EXPECT_EQ(message->text.rfind("nobody (uid 65534) could not set the device path of queue Q1 to /dev/x in "
                                    "/etc/zorv.conf: ", 0), 0u) << message->text;
    } else {
      EXPECT_EQ(message->text, "nobody (uid 65534) removed the entry of queue Q1 (device path /dev/x) from /etc/zorv.conf");
    }
  }
}

// A set-user-ID change makes every id root's before it takes the lock, so
// its caller can neither stop it while it holds the lock nor kill it while
// it commits; the audit line still names the caller. What it says about a
// device path is what the caller could find out: a node or a file in a
// directory only root may search reads as a path that does not exist there. Each id
// change that fails (strace -u runs the binary set-user-ID) says so.
TEST_F(TrustTest, SetUserIdChangeIsRootsAloneAndTellsOnlyWhatTheCallerMayKnow) {
#ifdef ZORV_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime does not run set-user-ID";
#endif
  TempDir shared;
  ASSERT_NO_FATAL_FAILURE(makeSetUserIdCopy(shared));
  const std::string binary = shared.file("zorvadmin");
  writeFile(shared.file("withq1.conf"), configWith(cupsRoot(), kQ1Block));
  // $1 the shared directory, $2 the test scheduler's socket.
  const std::string script = R"sh(set -e
echo 4294967295 >/proc/self/loginuid
mount --bind /etc "$1/realetc"
mount -t tmpfs -o mode=0755 zorvetc /etc
for f in "$1"/realetc/*; do
  case "${f##*/}" in zorv.conf*|cups) ;; *) ln -s "$f" /etc/ ;; esac
done
mkdir /etc/cups /etc/private
echo "ServerName $2" >/etc/cups/client.conf
chmod 0700 /etc/private
mknod /etc/private/x c 1 3
echo >/etc/private/f
cp "$1/withq1.conf" /etc/zorv.conf
set +e
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"  # no function: $! is the run itself
for p in x f y; do $nobody "$1/zorvadmin" --dry-run -p Q1 -o /etc/private/$p >"$1/$p.out" 2>"$1/$p.err"; echo "$p $?"; done
exec 9>>/etc/zorv.conf.lock
flock -x 9
$nobody "$1/zorvadmin" -x Q1 >/dev/null 2>&1 9>&- &
pid=$!
i=0
held() {  # the run itself, not the shell or setpriv before their exec, has the lock file open
  [ "$(basename "$(readlink /proc/$pid/exe)")" = zorvadmin ] && ls -l /proc/$pid/fd 2>/dev/null | grep -q zorv.conf.lock
}
until held || [ $i -ge 1000 ]; do i=$((i+1)); sleep 0.01; done
echo "held $(basename "$(readlink /proc/$pid/exe)")"
grep -E '^(Uid|Gid):' /proc/$pid/status | tr -s ' \t' ' '
$nobody sh -c 'kill -STOP $0' $pid 2>/dev/null; echo "stop $?"
kill -CONT $pid  # in case it did stop
exec 9>&-
wait $pid; echo "remove $?"
for inject in setresuid:error=EPERM setresuid:retval=0; do
  strace -u nobody -qq -o /dev/null -e inject=$inject "$1/zorvadmin" -x Q1 2>&1 >/dev/null; echo "$inject $?"
done
strace -u nobody -qq -o /dev/null -e inject=setfsuid:retval=0 "$1/zorvadmin" --dry-run -p Q1 -o /dev/null 2>&1 >/dev/null
echo "setfsuid $?"
exit 0
)sh";
  SyslogRun run;
  try {
    run = runCapturingSyslog({"unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh", shared.path(),
                              CupsScheduler::shared().socketPath()});
  } catch (const std::runtime_error& error) {
    GTEST_SKIP() << "no private /dev/log: " << error.what();
  }
  EXPECT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_EQ(run.result.out,
            "x 0\nf 0\ny 0\nheld zorvadmin\nUid: 0 0 0 0\nGid: 0 0 0 0\nstop 1\nremove 0\n"
            "zorvadmin: cannot set every user and group id to root: Operation not permitted\nsetresuid:error=EPERM 3\n"
            "zorvadmin: cannot set every user and group id to root\nsetresuid:retval=0 3\n"
            "zorvadmin: warning: the device path /dev/null cannot be checked\nsetfsuid 0\n")
      << run.result.err;
  // A device node, a file and a path where nothing is give the same words.
  for (const char* name : {"x", "f"}) {
    SCOPED_TRACE(name);
    const auto asY = [name](std::string text) {
      for (std::size_t at; (at = text.find(std::string("/etc/private/") + name)) != std::string::npos;) {
        text[at + 13] = 'y';
      }
      return text;
    };
    EXPECT_EQ(asY(readFile(shared.file(std::string(name) + ".out"))), readFile(shared.file("y.out")));
    EXPECT_EQ(asY(readFile(shared.file(std::string(name) + ".err"))), readFile(shared.file("y.err")));
  }
  EXPECT_EQ(readFile(shared.file("y.err")), "zorvadmin: warning: the device path /etc/private/y cannot be checked\n");
  ASSERT_EQ(run.messages.size(), 1u) << ::testing::PrintToString(run.messages);
  const std::optional<SyslogMessage> message = parseSyslogMessage(run.messages[0]);
  ASSERT_TRUE(message.has_value()) << run.messages[0];
  EXPECT_EQ(message->text, "nobody (uid 65534) removed the entry of queue Q1 (device path /dev/null) from /etc/zorv.conf");
}

TEST_F(TrustTest, ListWorksOnAReadOnlyFileSystemAndChangesFail) {
  const std::string before = configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/b\n</Printer>\n");
  writeConf(before);
  // $0 is the directory made read-only in a mount namespace of the run's own.
  const std::vector<std::string> readOnly = {
      "unshare", "--mount", "sh", "-c",
      "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && exec \"$@\"", dir_.path()};
  for (const bool lockExists : {false, true}) {
    SCOPED_TRACE(lockExists ? "with a lock file" : "without a lock file");
    if (lockExists) writeFile(conf() + ".lock", "");
    const RunResult listed = runWrapped(readOnly, kList);
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.err, "");
    EXPECT_EQ(listed.out, list({{"Q2", "parallel", "/dev/lp0", "/dev/b", ""}}));
    for (const auto& args : {kAddQ1, std::vector<std::string>{"-x", "Q2"}}) {
      const RunResult changed = runWrapped(readOnly, args);
      EXPECT_EQ(changed.status, 3) << args[0];
      EXPECT_EQ(changed.out, "");
      EXPECT_NE(changed.err.find("Read-only file system"), std::string::npos) << changed.err;
    }
    EXPECT_EQ(readConf(), before);
    EXPECT_EQ(fileExists(conf() + ".lock"), lockExists);
  }
}

TEST_F(TrustTest, LostOutputIsAnError) {
  writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/b\n</Printer>\n"));
  const RunResult full = runAfter("exec >/dev/full", kList);
  EXPECT_EQ(full.status, 3);
  EXPECT_EQ(full.err, "zorvadmin: cannot write standard output: No space left on device\n");

  // A pipe whose reader is gone.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[0]);
  const RunResult broken =
      runWrapped({"bash", "-c", "exec \"$@\" >&" + std::to_string(ends[1]), "bash"}, kList);
  ::close(ends[1]);
  EXPECT_EQ(broken.status, 3);
  EXPECT_EQ(broken.err, "zorvadmin: cannot write standard output: Broken pipe\n");
}

// A descriptor closed at start is never taken by a file the run opens: no
// listing or message lands in the configuration or its companions, and a
// listing that had nowhere to go is an error.
TEST_F(TrustTest, ClosedStandardDescriptorsNeverReceiveOutput) {
  const std::string withQ2 = configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/b\n</Printer>\n");
  const std::string noPorts = "<Path>\nCUPS_ConfigPath " + cupsRoot() + "\n</Path>\n";
  struct Case {
    const char* prelude;
    std::vector<std::string> args;
    std::string config;
    int status;
  };
  const std::vector<Case> cases = {
      {"exec >&-", kList, withQ2, 3},
      {"exec >&-", {"-x", "Q2"}, withQ2, 3},
      {"exec 2>&-", kAddQ1, noPorts, 2},
      {"exec 2>&-", {"-x", "Nowhere"}, withQ2, 0},
      {"exec <&- >&- 2>&-", {"-x", "Nowhere"}, withQ2, 3},
      {"exec <&-", kList, withQ2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.prelude) + " " + c.args[0] + " " + c.args[1]);
    TempDir dir;
    const std::string config = dir.file("zorv.conf");
    writeFile(config, c.config);
    const RunResult result = runAfter(c.prelude, c.args, {{"ZORV_CONF", config}});
    EXPECT_EQ(result.status, c.status) << result.err;
    if (c.args[0] != "-x" || c.args[1] == "Nowhere") {
      EXPECT_EQ(readFile(config), c.config);
    }
    EXPECT_EQ(readFile(config + ".lock"), "");
    for (const char* text : {"Entry Num", "zorvadmin:", "Delete", "Usage"}) {
      EXPECT_EQ(filesHolding(dir.path(), text), std::vector<std::string>{}) << text;
    }
  }
}

// However long the line, no character of a password is shown.
TEST_F(TrustTest, PasswordPastTheLineCutIsNeverShown) {
  const std::string cupsDir = file("cups") + "/";
  ASSERT_EQ(::mkdir(cupsDir.c_str(), 0755), 0);
  writeConf(configWith(cupsDir, "<Printer Q1>\nDevicePath /dev/a\n</Printer>\n"));
  const std::string password(1500, 'p');
  struct Case {
    std::string uri;
    std::string shown;
  };
  for (const Case& c : {Case{"smb://user:" + password + "@host/q", "//user"}, Case{"smb://user:" + password + "@host", "//user"},
                        Case{"smb://user:pp@host/q", "//user@host/q"}}) {
    SCOPED_TRACE(c.uri.size());
    writeFile(cupsDir + "printers.conf", "<Printer Q1>\nDeviceURI " + c.uri + "\n</Printer>\n");
    const RunResult result = run(kList);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, listing(cupsDir, "None", 59787, {{"Q1", "smb", c.shown, "/dev/a", ""}}));
    EXPECT_EQ(result.out.find("pp"), std::string::npos);
  }
}

// The signal arrives as the new file, named by then, is moved into place.
TEST_F(TrustTest, SignalDuringARewriteRemovesTheNewFile) {
  const std::string before = configWith(cupsRoot());
  for (const auto& [name, number] : std::vector<std::pair<std::string, int>>{{"TERM", SIGTERM}, {"INT", SIGINT}, {"HUP", SIGHUP}}) {
    SCOPED_TRACE(name);
    writeConf(before);
    const RunResult result = runWrapped(
        {"strace", "-f", "-qq", "-o", "/dev/null", "-e", "inject=rename,renameat,renameat2:signal=" + name + ":when=1", "-P", conf() + "~"},
        kAddQ1, {{"ASAN_OPTIONS", "detect_leaks=0"}});
    EXPECT_EQ(result.status, 128 + number) << result.err;
    EXPECT_FALSE(fileExists(conf() + "~"));
    const std::string now = readConf();
    EXPECT_TRUE(now == before || now == added());
  }
}

// A hard link at the new file's name whose removal a run would believe
// done (unlink made to succeed without removing anything) changes nothing:
// no run removes anything there.
TEST_F(TrustTest, HardLinkAtTheNewFileNameWhoseUnlinkIsSkipped) {
  writeFile(file("victim"), "victim bytes\n");
  ASSERT_EQ(::link(file("victim").c_str(), (conf() + "~").c_str()), 0);
  writeConf(configWith(cupsRoot()));
  const RunResult result = runWrapped({"strace", "-f", "-qq", "-o", "/dev/null", "-e", "inject=unlink,unlinkat:retval=0"},
                                      kAddQ1, {{"ASAN_OPTIONS", "detect_leaks=0"}});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readConf(), added());
  EXPECT_EQ(readFile(file("victim")), "victim bytes\n");
  EXPECT_EQ(lstatOf(file("victim")).st_nlink, 2U);
}

}  // namespace
}  // namespace zorv::test
