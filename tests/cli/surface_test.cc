// The long options around the classic command line, through the real
// binary: refused combinations, --check, --dry-run, --tsv, --get, --quiet,
// --restore, the syslog line per change and the device warning of -p.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "cli/cli_fixture.h"
#include "support/syslog_capture.h"

namespace zorv::test {
namespace {

const std::string kQ2Block = "<Printer Q2>\nDevicePath /dev/null\n</Printer>\n\n";
const std::string kCantFindUnknown = "\n Unknown can't find in CUPS Spooler Entry!!\n\n";

// The 1-based number of the first line of content holding text.
int lineOf(const std::string& content, const std::string& text) {
  const std::size_t at = content.find(text);
  if (at == std::string::npos) throw std::logic_error("no " + text);
  return 1 + static_cast<int>(std::count(content.begin(), content.begin() + static_cast<long>(at), '\n'));
}

std::string replaced(std::string content, const std::string& from, const std::string& to) {
  content.replace(content.find(from), from.size(), to);
  return content;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

class SurfaceTest : public CliTest {
 protected:
  std::map<std::string, std::string> deadScheduler() const { return {{"CUPS_SERVER", file("no-cupsd.sock")}}; }
};

using Names = std::vector<std::string>;

TEST_F(SurfaceTest, RefusedCommandLinesPrintUsageAndTouchNothing) {
  const std::vector<std::vector<std::string>> refused = {
      {"--frobnicate"},
      {"--frobnicate", "-p", "Q1", "-o", "/dev/null"},
      {"--check", "-p", "Q1", "-o", "x"},
      {"--get", "Q1", "-x", "Q1"},
      {"--get"},
      {"--check", "--tsv"},
      {"--restore", "-x", "Q1"},
      {"--dry-run"},
      {"--quiet"},
      {"--dry-run", "-o", "x"},
      {"--devices", "-x", "Q1"},
      {"--devices", "--quiet"},
  };
  for (const auto& args : refused) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const RunResult result = run(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    // One line that says why, then the usage text.
    ASSERT_EQ(result.err.rfind("zorvadmin: ", 0), 0u) << result.err;
    EXPECT_EQ(result.err.substr(result.err.find('\n') + 1), kRefusedUsage);
    EXPECT_EQ(filesLeft(), Names{});
  }
}

// The classic parser does as it always did; what it passed over is said on
// standard error, before whatever the run says after it.
TEST_F(SurfaceTest, ClassicParserWarnsOfWhatItIgnoredAndDoesAsBefore) {
  struct Case {
    std::vector<std::string> args;
    std::string warnings;
    int status;
    std::string err;  // after the warnings
  };
  const std::vector<Case> cases = {
      {{"Q1"}, "zorvadmin: warning: Q1 is ignored: only -p, -o and -x are read, each with the word after it\n", 0, ""},
      {{"-o", "/dev/null"}, "zorvadmin: warning: -o /dev/null is ignored: a device path goes only with -p\n", 0, ""},
      {{"-p", "-x", "Q9"}, "zorvadmin: warning: -p takes -x as its queue name\n", 0,
       "zorvadmin: Q9 has no entry in " + conf() + "; nothing changed\n"},
      {{"--tsv", "-o", "/dev/null", "x"}, "zorvadmin: warning: x is ignored: only -p, -o and -x are read, each with "
       "the word after it\nzorvadmin: warning: -o /dev/null is ignored: a device path goes only with -p\n", 0, ""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    writeConf(configWith(cupsRoot(), ""));
    std::vector<std::string> command{zorvadminPath()};
    command.insert(command.end(), row.args.begin(), row.args.end());
    const RunResult raw = runProgram(command, runEnv({}));
    const RunResult quiet = run(row.args);
    EXPECT_EQ(raw.status, row.status);
    EXPECT_EQ(raw.err, row.warnings + row.err);
    EXPECT_EQ(raw.out, quiet.out);
    EXPECT_EQ(readConf(), configWith(cupsRoot(), ""));
  }
}

TEST_F(SurfaceTest, CheckReportsEachFindingWithItsLine) {
  const std::string clean = configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n\n");
  const std::string plainFile = file("plain");
  writeFile(plainFile, "not a device\n");
  std::filesystem::create_directory(file("nocups"));
  std::string seventeen;
  for (int i = 0; i < 17; ++i) seventeen += "<Printer P" + std::to_string(i) + ">\nDevicePath /dev/null\n</Printer>\n";
  const std::string longLine = "# " + std::string(1100, 'x') + "\n";
  const std::string duplicate = kQ2Block + "<Printer q2>\nDevicePath /dev/null\n</Printer>\n";

  struct Expected {
    int line;
    std::string text;  // a part of the message
  };
  struct Case {
    std::string name;
    std::string content;
    std::vector<Expected> findings;
    int status;
    std::map<std::string, std::string> env;
  };
  const std::vector<Case> cases = {
      {"clean", clean, {}, 0, {}},
      {"text outside a section", configWith(cupsRoot(), "stray text\n"),
       {{lineOf(configWith(cupsRoot(), "stray text\n"), "stray"), "text outside any section"}}, 2, {}},
      {"unknown line in a block", configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/null\nColor yes\n</Printer>\n"),
       {{lineOf(configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/null\nColor yes\n</Printer>\n"), "Color"),
         "unknown line in a printer block"}},
       2, {}},
      {"long line", replaced(clean, "<Ports>", longLine + "<Ports>"),
       {{lineOf(clean, "<Ports>"), "longer than 1024"}}, 2, {}},
      {"two blocks for one queue", configWith(cupsRoot(), duplicate),
       {{lineOf(configWith(cupsRoot(), duplicate), "<Printer q2>"),
         "a second block for q2; the first is at line " +
             std::to_string(lineOf(configWith(cupsRoot(), duplicate), "<Printer Q2>"))}},
       2, {}},
      // Unreachable scheduler: no queue is reported unknown, only the count.
      {"seventeen blocks", configWith(cupsRoot(), seventeen),
       {{lineOf(configWith(cupsRoot(), seventeen), "<Printer P16>"), "more than 16"}}, 2, deadScheduler()},
      {"no ports", clean.substr(0, clean.find("<Ports>")), {{0, "<Ports>"}}, 2, {}},
      {"port abc", replaced(clean, "UI_Port  59787", "UI_Port  abc"), {{lineOf(clean, "UI_Port  59787"), "UI_Port"}}, 2, {}},
      {"port 0", replaced(clean, "UI_Port  59787", "UI_Port  0"), {{lineOf(clean, "UI_Port  59787"), "UI_Port"}}, 2, {}},
      {"port 70000", replaced(clean, "UI_Port  59787", "UI_Port  70000"), {{lineOf(clean, "UI_Port  59787"), "UI_Port"}},
       2, {}},
      {"port 65535", replaced(clean, "UI_Port  59787", "UI_Port  65535"), {}, 0, {}},
      // Facts about the system around the file are warnings.
      {"no printers.conf", configWith(file("nocups/"), "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n"),
       {{lineOf(clean, "CUPS_ConfigPath "), "warning: CUPS_ConfigPath: no readable " + file("nocups/printers.conf")}},
       0, {}},
      {"no CUPS at all", configWith(file("nocups/")), {{lineOf(clean, "CUPS_ConfigPath "), "warning: CUPS_ConfigPath"}},
       0, deadScheduler()},
      {"scheduler down", clean, {}, 0, deadScheduler()},
      {"unknown queue", configWith(cupsRoot(), "<Printer Gone>\nDevicePath /dev/null\n</Printer>\n"),
       {{lineOf(clean, "<Printer Q1>"), "warning: the CUPS scheduler knows no queue Gone"}}, 0, {}},
      {"relative device path", configWith(cupsRoot(), "<Printer Q1>\nDevicePath usb/lp0\n</Printer>\n"),
       {{lineOf(clean, "DevicePath /dev/null"), "not absolute"}}, 2, {}},
      {"missing device", configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/usb/lp9\n</Printer>\n"),
       {{lineOf(clean, "DevicePath /dev/null"), "warning: the device path /dev/usb/lp9"}}, 0, {}},
      {"regular file device", configWith(cupsRoot(), "<Printer Q1>\nDevicePath " + plainFile + "\n</Printer>\n"),
       {{lineOf(clean, "DevicePath /dev/null"), ": the device path " + plainFile + " of Q1 is not a character device"}},
       2, {}},
      {"directory as device", configWith(cupsRoot(), "<Printer Q1>\nDevicePath " + file("nocups") + "\n</Printer>\n"),
       {{lineOf(clean, "DevicePath /dev/null"), "is not a character device"}}, 2, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string checked = file("candidate.conf");
    writeFile(checked, c.content);
    const Names before = filesLeft();
    const RunResult result = run({"--check", checked}, c.env);
    EXPECT_EQ(result.status, c.status) << result.out << result.err;
    const std::vector<std::string> lines = linesOf(result.out);
    EXPECT_EQ(lines.size(), c.findings.size()) << result.out;
    for (std::size_t i = 0; i < std::min(lines.size(), c.findings.size()); ++i) {
      const std::string prefix = checked + ":" + std::to_string(c.findings[i].line) + ": ";
      EXPECT_EQ(lines[i].rfind(prefix, 0), 0u) << lines[i] << " wanted " << prefix;
      EXPECT_NE(lines[i].find(c.findings[i].text), std::string::npos) << lines[i];
    }
    // --strict: any warning, said here or on standard error, is an error.
    const RunResult strict = run({"--check", "--strict", checked}, c.env);
    EXPECT_EQ(strict.status, result.out.empty() && result.err.empty() ? 0 : 2) << strict.out << strict.err;
    EXPECT_EQ(strict.out, result.out);
    EXPECT_EQ(readFile(checked), c.content);
    EXPECT_EQ(filesLeft(), before);
  }
}

TEST_F(SurfaceTest, CheckCreatesNothingAndTellsAnUnreadableFile) {
  // The configuration named by ZORV_CONF, missing: no default, no lock.
  RunResult result = run({"--check"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(filesLeft(), Names{});
  result = run({"--check", file("missing.conf")});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(filesLeft(), Names{});
  // The configuration itself when no file is named, and with = too.
  writeConf(configWith(cupsRoot(), "stray\n"));
  EXPECT_EQ(run({"--check"}).status, 2);
  EXPECT_EQ(run({"--check=" + conf()}).status, 2);
  EXPECT_EQ(filesLeft(), Names{"zorv.conf"});
  // Needs no root: a nobody can check a file it can read.
  std::filesystem::create_directory(file("cups"));
  writeFile(file("cups/printers.conf"), "");
  writeFile(file("open.conf"), configWith(file("cups/")));
  for (const std::string& path : {dir_.path(), file("cups")}) ::chmod(path.c_str(), 0755);
  for (const std::string& path : {file("open.conf"), file("cups/printers.conf")}) ::chmod(path.c_str(), 0644);
  const RunResult asNobody = runWrapped(kAsNobody, {"--check", file("open.conf")});
  EXPECT_EQ(asNobody.status, 0) << asNobody.out << asNobody.err;
}

TEST_F(SurfaceTest, DryRunShowsTheDiffAndTheListingAndChangesNothing) {
  const std::string before = configWith(cupsRoot(), kQ2Block);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> diffLines;  // besides the headers and hunk lines
    std::vector<Row> rows;
  };
  const std::vector<Case> cases = {
      {{"--dry-run", "-p", "Q1", "-o", "/dev/usb/lp1"},
       {"+<Printer Q1>", "+DevicePath /dev/usb/lp1", "+</Printer>"},
       {{"Q2", "parallel", "/dev/lp0", "/dev/null", ""}, {"Q1", "zorv", "/var/run/zorv/Q1.fifo", "/dev/usb/lp1", "New!!"}}},
      {{"--dry-run", "-p", "q2", "-o", "/dev/usb/lp2"},
       {"-DevicePath /dev/null", "+DevicePath /dev/usb/lp2"},
       {{"Q2", "parallel", "/dev/lp0", "/dev/usb/lp2", "Modified"}}},
      {{"--dry-run", "-x", "Q2"},
       {"-<Printer Q2>", "-DevicePath /dev/null", "-</Printer>"},
       {{"Q2", "parallel", "/dev/lp0", "/dev/null", "Delete"}}},
      // Nothing would change: no diff at all.
      {{"--dry-run", "-x", "Q9"}, {}, {{"Q2", "parallel", "/dev/lp0", "/dev/null", ""}}},
      {{"--dry-run", "-p", "Q2", "-o", "/dev/null"}, {}, {{"Q2", "parallel", "/dev/lp0", "/dev/null", "Modified"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    writeConf(before);
    struct stat statBefore {};
    ASSERT_EQ(::stat(conf().c_str(), &statBefore), 0);
    ::usleep(20000);
    const RunResult result = run(c.args);
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string shown = listing(cupsRoot(), "None", 59787, c.rows);
    ASSERT_GE(result.out.size(), shown.size());
    EXPECT_EQ(result.out.substr(result.out.size() - shown.size()), shown) << result.out;
    const std::string diff = result.out.substr(0, result.out.size() - shown.size());
    if (c.diffLines.empty()) {
      EXPECT_EQ(diff, "");
    } else {
      EXPECT_EQ(diff.rfind("--- " + conf() + "\n+++ " + conf() + " (new)\n@@ -", 0), 0u) << diff;
      const std::vector<std::string> lines = linesOf(diff);
      for (const std::string& wanted : c.diffLines) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), wanted), lines.end()) << wanted << " in\n" << diff;
      }
      for (std::size_t i = 2; i < lines.size(); ++i) {
        EXPECT_NE(std::string(" +-@").find(lines[i].substr(0, 1)), std::string::npos) << lines[i];
      }
    }
    struct stat statAfter {};
    ASSERT_EQ(::stat(conf().c_str(), &statAfter), 0);
    EXPECT_EQ(statAfter.st_ino, statBefore.st_ino);
    EXPECT_EQ(statAfter.st_mtim.tv_sec, statBefore.st_mtim.tv_sec);
    EXPECT_EQ(statAfter.st_mtim.tv_nsec, statBefore.st_mtim.tv_nsec);
    EXPECT_EQ(readConf(), before);
    EXPECT_EQ(filesLeft(), Names{"zorv.conf"});
  }
}

TEST_F(SurfaceTest, DryRunFailsAsTheRunWouldAndNeedsTheFile) {
  writeConf(configWith(cupsRoot(), kQ2Block));
  const RunResult real = run({"-p", "Unknown", "-o", "/dev/x"});
  const RunResult dry = run({"--dry-run", "-p", "Unknown", "-o", "/dev/x"});
  EXPECT_EQ(real.status, 2);
  EXPECT_EQ(dry.status, 2);
  EXPECT_EQ(dry.out, kCantFindUnknown);
  EXPECT_EQ(dry.out, real.out);
  expectFiles(configWith(cupsRoot(), kQ2Block));
  // A preview of a file that is not there creates no default.
  std::filesystem::remove(conf());
  std::filesystem::remove(conf() + ".lock");
  const RunResult missing = run({"--dry-run", "-p", "Q1", "-o", "/dev/null"});
  EXPECT_EQ(missing.status, 3);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(filesLeft(), Names{});
}

TEST_F(SurfaceTest, TsvListsEveryBlockExactly) {
  const std::string blocks = "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n<Printer Gone>\nDevicePath /dev/usb/lp7\n</Printer>\n";
  writeConf(replaced(configWith(cupsRoot(), blocks), "#LogDirectoryPath /var/log/ZORV/", "LogDirectoryPath /var/log/ZORV/"));
  const std::string settings = "setting\tCUPS_ConfigPath\t" + cupsRoot() +
                               "\nsetting\tLogDirectoryPath\t/var/log/ZORV/\nsetting\tUI_Port\t59787\n";
  RunResult result = run({"--tsv"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, settings + "entry\tQ2\t/dev/usb/lp2\tparallel\t/dev/lp0\tok\n" +
                            "entry\tGone\t/dev/usb/lp7\t\t\tunknown-queue\n");
  // Without a scheduler nothing is known either way.
  result = run({"--tsv"}, deadScheduler());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, settings + "entry\tQ2\t/dev/usb/lp2\tparallel\t/dev/lp0\tunchecked\n" +
                            "entry\tGone\t/dev/usb/lp7\t\t\tunchecked\n");

  // After a change, and a removed entry is no longer listed.
  writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"));
  const std::string defaults = "setting\tCUPS_ConfigPath\t" + cupsRoot() + "\nsetting\tLogDirectoryPath\t\nsetting\tUI_Port\t59787\n";
  result = run({"--tsv", "-p", "Q1", "-o", "/dev/null"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, defaults + "entry\tQ2\t/dev/usb/lp2\tparallel\t/dev/lp0\tok\n" +
                            "entry\tQ1\t/dev/null\tzorv\t/var/run/zorv/Q1.fifo\tok\n");
  result = run({"--tsv", "-x", "Q2"});
  EXPECT_EQ(result.out, defaults + "entry\tQ1\t/dev/null\tzorv\t/var/run/zorv/Q1.fifo\tok\n");
  EXPECT_EQ(readConf(), configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n\n"));
}

TEST_F(SurfaceTest, TsvEscapesFieldsAndHasNoRowLimit) {
  writeConf(configWith(cupsRoot(), "<Printer Q1>\nDevicePath a\tb\\c\n</Printer>\n"));
  const std::string defaults = "setting\tCUPS_ConfigPath\t" + cupsRoot() + "\nsetting\tLogDirectoryPath\t\nsetting\tUI_Port\t59787\n";
  EXPECT_EQ(run({"--tsv"}).out, defaults + "entry\tQ1\ta\\tb\\\\c\tzorv\t/var/run/zorv/Q1.fifo\tok\n");

  std::string blocks;
  std::string entries;
  for (int i = 0; i < 20; ++i) {
    const std::string queue = "Q" + std::to_string(1 + i % 3);
    const std::string device = "/dev/usb/lp" + std::to_string(i);
    blocks += "<Printer " + queue + ">\nDevicePath " + device + "\n</Printer>\n";
    entries += "entry\t" + queue + "\t" + device + "\t";
  }
  writeConf(configWith(cupsRoot(), blocks));
  const std::vector<std::string> lines = linesOf(run({"--tsv"}).out);
  ASSERT_EQ(lines.size(), 23u);
  for (int i = 0; i < 20; ++i) {
    const std::string prefix = "entry\tQ" + std::to_string(1 + i % 3) + "\t/dev/usb/lp" + std::to_string(i) + "\t";
    EXPECT_EQ(lines[3 + i].rfind(prefix, 0), 0u) << lines[3 + i];
    EXPECT_EQ(lines[3 + i].substr(lines[3 + i].rfind('\t')), "\tok");
  }
}

TEST_F(SurfaceTest, GetPrintsOneDevicePath) {
  writeConf(configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/usb/lp1\n</Printer>\n"
                                   "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"--get", "Q2"}, 0, "/dev/usb/lp2\n"},
      {{"--get", "q2"}, 0, "/dev/usb/lp2\n"},
      {{"--get=Q1"}, 0, "/dev/usb/lp1\n"},
      {{"--get", "Q3"}, 2, ""},
      {{"--get", "Q"}, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const RunResult result = run(c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
  }
  EXPECT_EQ(filesLeft(), Names{"zorv.conf"});
  std::filesystem::remove(conf());
  const RunResult missing = run({"--get", "Q1"});
  EXPECT_EQ(missing.status, 3);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(filesLeft(), Names{});
}

TEST_F(SurfaceTest, QuietPrintsNoListingButStillTheErrors) {
  writeConf(configWith(cupsRoot(), kQ2Block));
  RunResult result = run({"--quiet", "-p", "Q1", "-o", "/dev/null"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(readConf(), configWith(cupsRoot(), kQ2Block + "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n\n"));
  result = run({"--quiet", "-x", "Q2"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(readConf(), configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n\n"));
  result = run({"--quiet", "-p", "Unknown", "-o", "/dev/x"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, kCantFindUnknown);
}

TEST_F(SurfaceTest, RestoreSwapsTheBackupAndCanBeUndone) {
  const std::string original = configWith(cupsRoot(), kQ2Block);
  const std::string added = configWith(cupsRoot(), kQ2Block + "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n\n");
  writeConf(original);
  ASSERT_EQ(run({"-p", "Q1", "-o", "/dev/null"}).status, 0);
  ASSERT_EQ(readConf(), added);
  ASSERT_EQ(readFile(conf() + ".bak"), original);

  RunResult result = run({"--restore"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, listing(cupsRoot(), "None", 59787, {{"Q2", "parallel", "/dev/lp0", "/dev/null", ""}}));
  EXPECT_EQ(readConf(), original);
  EXPECT_EQ(readFile(conf() + ".bak"), added);

  result = run({"--restore"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, listing(cupsRoot(), "None", 59787,
                                {{"Q2", "parallel", "/dev/lp0", "/dev/null", ""},
                                 {"Q1", "zorv", "/var/run/zorv/Q1.fifo", "/dev/null", ""}}));
  EXPECT_EQ(readConf(), added);
  EXPECT_EQ(readFile(conf() + ".bak"), original);
  EXPECT_EQ(filesLeft(), (Names{"zorv.conf", "zorv.conf.bak", "zorv.conf.lock"}));
}

TEST_F(SurfaceTest, RestoreWithoutBackupChangesNothing) {
  writeConf(configWith(cupsRoot(), kQ2Block));
  const RunResult result = run({"--restore"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find(conf() + ".bak"), std::string::npos) << result.err;
  expectFiles(configWith(cupsRoot(), kQ2Block));
}

// One line per change: a notice for each made, a warning with the reason
// for each refused or failed; values quoted, the person from what the
// caller cannot set (the real user, the login uid), SUDO_USER only when it
// agrees with both.
TEST_F(SurfaceTest, EachChangeLogsOneLineToAuthpriv) {
  const std::map<std::string, std::string> common = CupsScheduler::shared().clientEnv();
  const auto logged = [&common](const std::vector<std::string>& args, std::map<std::string, std::string> env,
                                const std::string& loginUid) {
    // The kernel's login uid of the run, as a login session would set it.
    std::vector<std::string> command{"sh", "-c", "echo \"$0\" >/proc/self/loginuid && exec \"$@\"", loginUid,
                                     zorvadminPath()};
    command.insert(command.end(), args.begin(), args.end());
    env.insert(common.begin(), common.end());
    return runCapturingSyslog(command, env);
  };
  const std::string unset = "4294967295";
  writeConf(configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n"));
  try {
    logged({"-o", "x"}, {{"ZORV_CONF", conf()}}, unset);
  } catch (const std::runtime_error& error) {
    GTEST_SKIP() << "no private /dev/log: " << error.what();
  }
  const std::string c = conf();
  const std::map<std::string, std::string> alice = {{"ZORV_CONF", c}, {"SUDO_USER", "alice"}, {"SUDO_UID", "1000"}};
  const std::map<std::string, std::string> viaSudo = {{"ZORV_CONF", c}, {"SUDO_USER", "nobody"}, {"SUDO_UID", "65534"}};
  const std::map<std::string, std::string> lyingSudo = {{"ZORV_CONF", c}, {"SUDO_USER", "root"}, {"SUDO_UID", "65534"}};
  const std::map<std::string, std::string> noDirectory = {{"ZORV_CONF", file("gone/zorv.conf")}};
  const std::string emptied = file("emptied/zorv.conf");
  std::filesystem::create_directory(file("emptied"));
  writeFile(emptied, configWith(cupsRoot(), ""));
  writeFile(emptied + ".bak", "");
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    std::string loginUid;
    int level;         // 0: nothing logged
    std::string text;  // what it logged
  };
  const std::vector<Case> cases = {
      {{"-o", "x"}, alice, unset, 0, ""},
      {{"-p", "Q1", "-o", "/dev/usb/lp1"}, alice, unset, 5,
       "root (uid 0) set the device path of queue Q1 from /dev/null to /dev/usb/lp1 in " + c},
      {{"-p", "Q1", "-o", "/dev/usb/lp1"}, alice, unset, 0, ""},  // no change
      {{"-p", "Unknown", "-o", "/dev/null"}, viaSudo, "65534", 4,
       "nobody (uid 65534) via sudo could not set the device path of queue Unknown to /dev/null in " + c +
           ": the CUPS scheduler knows no queue Unknown"},
      {{"--dry-run", "-x", "Q1"}, alice, unset, 0, ""},
      {{"-p", "Q1", "-o", "/dev/usb/lp2 x"}, lyingSudo, "65534", 5,
       "root (uid 0) logged in as nobody (uid 65534) set the device path of queue Q1 from /dev/usb/lp1 to "
       "'/dev/usb/lp2 x' in " + c},
      {{"-x", "Q1"}, alice, "0", 5,
       "root (uid 0) removed the entry of queue Q1 (device path '/dev/usb/lp2 x') from " + c},
      {{"-x", "Q1"}, alice, unset, 0, ""},  // nothing to remove
      {{"-x", "Q2'\x1b"}, alice, unset, 4,
       "root (uid 0) could not remove the entry of queue 'Q2\\'\\x1b' from " + c +
           ": the queue name must not contain control characters"},
      {{"-p", "Q1", "-o", "lp0"}, alice, unset, 4,
       "root (uid 0) could not set the device path of queue Q1 to lp0 in " + c + ": the device path must be absolute"},
      {{"--restore"}, alice, unset, 5,
       "root (uid 0) restored " + c + " from its backup; device paths: Q1 from (none) to '/dev/usb/lp2 x'"},
      {{"--set", "UI_Port", "59788"}, alice, unset, 5, "root (uid 0) set UI_Port from 59787 to 59788 in " + c},
      {{"--set", "UI_Port", "59788"}, alice, unset, 0, ""},  // the value it has
      {{"--set", "UI_Port", "x"}, noDirectory, unset, 4,
       "root (uid 0) could not set UI_Port in " + file("gone/zorv.conf") +
           ": the value of UI_Port must be a number from 1 to 65535"},
      {{"-x", "Q1"}, noDirectory, unset, 4,
       "root (uid 0) could not remove the entry of queue Q1 from " + file("gone/zorv.conf") + ": cannot open " +
           file("gone/zorv.conf.lock") + ": No such file or directory"},
      {{"--restore"}, {{"ZORV_CONF", emptied}}, unset, 4,
       "root (uid 0) could not restore " + emptied + " from its backup: cannot restore " + emptied + ": the backup " +
           emptied + ".bak is empty"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    const SyslogRun run = logged(row.args, row.env, row.loginUid);
    if (row.level == 0) {
      EXPECT_EQ(run.messages.size(), 0u) << ::testing::PrintToString(run.messages);
      continue;
    }
    ASSERT_EQ(run.messages.size(), 1u) << ::testing::PrintToString(run.messages);
    const std::optional<SyslogMessage> message = parseSyslogMessage(run.messages[0]);
    ASSERT_TRUE(message.has_value()) << run.messages[0];
    EXPECT_EQ(message->ident, "zorvadmin");
    EXPECT_EQ(message->facility, 10 << 3);
    EXPECT_EQ(message->level, row.level);
    EXPECT_EQ(message->text, row.text);
  }
}

TEST_F(SurfaceTest, AddWarnsAboutADevicePathThatIsNoDevice) {
  const std::string plain = file("plain");
  writeFile(plain, "");
  const std::string link = file("printer0");
  std::filesystem::create_symlink("/dev/null", link);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/dev/usb/lp9", "zorvadmin: warning: the device path /dev/usb/lp9 does not exist\n"},
      {plain + "/lp0", "zorvadmin: warning: the device path " + plain + "/lp0 does not exist\n"},
      {"/dev/null", ""},
      {link, ""},  // links are followed: udev names are the usual fix
  };
  std::map<std::string, std::string> env = CupsScheduler::shared().clientEnv();
  env["ZORV_CONF"] = conf();
  writeConf(configWith(cupsRoot()));
  for (const auto& [device, warning] : cases) {
    SCOPED_TRACE(device);
    const RunResult result = runProgram({zorvadminPath(), "-p", "Q1", "-o", device}, env);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, warning);
    EXPECT_NE(readConf().find("DevicePath " + device + "\n"), std::string::npos);
  }
  // A removal names no device.
  EXPECT_EQ(runProgram({zorvadminPath(), "-x", "Q1"}, env).err, "");
}

}  // namespace
}  // namespace zorv::test
