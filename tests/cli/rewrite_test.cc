// Adds, modifies and removes through the real binary and the private
// scheduler: the rewritten bytes, the rotation and the listing.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "cli/cli_fixture.h"
#include "support/large_scheduler.h"

namespace zorv::test {
namespace {

const Row kQ1New{"Q1", "zorv", "/var/run/zorv/Q1.fifo", "/dev/usb/lp1", "New!!"};

class RewriteTest : public CliTest {
 protected:
  // A successful rewrite: the old bytes are the backup, no new file is left.
  void expectRotated(const std::string& before, const std::string& after) { expectFiles(after, before); }
  std::string list(const std::vector<Row>& rows, const std::string& unlisted = "") {
    return listing(cupsRoot(), "None", 59787, rows, unlisted);
  }
};

TEST_F(RewriteTest, AddToTheDefaultFileInsertsTheBlockBeforePorts) {
  const std::string before = configWith(cupsRoot());
  writeConf(before);
  const RunResult result = run({"-p", "Q1", "-o", "/dev/usb/lp1"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, list({kQ1New}));
  expectRotated(before, configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/usb/lp1\n</Printer>\n\n"));
}

// A change opens the file twice: to read the names to ask about, then under
// the lock, where the read, the new file's attributes, the rewrite and the
// comparison share one descriptor.
TEST_F(RewriteTest, ChangesOpenTheConfigurationTwice) {
  const std::string trace = file("trace");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-p", "Q2", "-o", "/dev/usb/lp2"},
                                               std::vector<std::string>{"--dry-run", "-p", "Q2", "-o", "/dev/lp3"},
                                               std::vector<std::string>{"-x", "Q2"}}) {
    SCOPED_TRACE(args.front());
    writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/lp9\n</Printer>\n"));
    const RunResult result = runWrapped({"strace", "-qq", "-e", "trace=open,openat", "-o", trace}, args);  // not diff
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string calls = readFile(trace);
    int opens = 0;
    const std::string path = "\"" + conf() + "\", O_RDONLY";
    for (std::size_t at = calls.find(path); at != std::string::npos; at = calls.find(path, at + 1)) ++opens;
    EXPECT_EQ(opens, 2) << calls;
  }
}

TEST_F(RewriteTest, ModifyRewritesTagAndDevicePathAndDropsUnknownLines) {
  const std::string before = configWith(
      cupsRoot(), "<Printer  Q2>   \nDevicePath /dev/old\n# kept comment\nJunk line\nDevicePath: /dev/older\n</Printer>\n");
  writeConf(before);
  const RunResult result = run({"-p", "Q2", "-o", "/dev/usb/lp2"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, list({{"Q2", "parallel", "/dev/lp0", "/dev/usb/lp2", "Modified"}}));
  expectRotated(before, configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n# kept comment\n"
                                               "DevicePath /dev/usb/lp2\n</Printer>\n"));
}

TEST_F(RewriteTest, RemoveDropsTheBlockButKeepsItsComments) {
  const std::string block = "<Printer Q2>\nDevicePath /dev/lp9\n# about Q2\n</Printer>\n";
  const std::string before = configWith(cupsRoot(), "<Printer Q3>\nDevicePath /dev/usb/lp3\n</Printer>\n" + block);
  writeConf(before);
  const RunResult result = run({"-x", "Q2"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, list({{"Q3", "usb", "//Zorv/ZPR4410", "/dev/usb/lp3", ""},
                              {"Q2", "parallel", "/dev/lp0", "/dev/lp9", "Delete"}}));
  expectRotated(before, configWith(cupsRoot(), "<Printer Q3>\nDevicePath /dev/usb/lp3\n</Printer>\n# about Q2\n"));
}

// A run that changes nothing replaces nothing: the backup still holds the
// state before the last real change.
TEST_F(RewriteTest, RemoveOfAnAbsentNameChangesNoFile) {
  writeConf(kDefaultConfig);
  writeFile(conf() + ".bak", "older");
  struct stat before {};
  ASSERT_EQ(::stat(conf().c_str(), &before), 0);
  const RunResult result = run({"-x", "Nowhere"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, listing("/etc/cups/", "None", 59787, {}));
  EXPECT_EQ(result.err, "zorvadmin: Nowhere has no entry in " + conf() + "; nothing changed\n");
  struct stat after {};
  ASSERT_EQ(::stat(conf().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(readFile(conf() + ".bak"), "older");
  EXPECT_FALSE(fileExists(conf() + "~"));

  // The same for an add that sets the device path the entry already has.
  const std::string withQ2 = configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/same\n</Printer>\n");
  writeConf(withQ2);
  const RunResult same = run({"-p", "Q2", "-o", "/dev/same"});
  EXPECT_EQ(same.status, 0);
  EXPECT_EQ(same.err, "");
  EXPECT_EQ(same.out, list({{"Q2", "parallel", "/dev/lp0", "/dev/same", "Modified"}}));
  EXPECT_EQ(readConf(), withQ2);
  EXPECT_EQ(readFile(conf() + ".bak"), "older");
}

TEST_F(RewriteTest, RewriteNormalisesLinesOutsideSectionsAndCrlf) {
  const std::string before = "stray line\r\n<Path>\r\nCUPS_ConfigPath " + cupsRoot() +
                             "\r\n</Path>\r\n\r\n<Printer Q9>\r\n</Printer>\r\n<Ports>\r\n</Ports>";
  writeConf(before);
  EXPECT_EQ(run({"-x", "Q9"}).status, 0);
  // Each CRLF comes back as two newlines, an empty line outside any section
  // is dropped, and the unterminated last line stays so.
  expectRotated(before, "<Path>\n\nCUPS_ConfigPath " + cupsRoot() + "\n\n</Path>\n\n<Ports>\n\n</Ports>");
}

TEST_F(RewriteTest, UnterminatedLastLineIsNeverLost) {
  const std::string before = configWith(cupsRoot()) + "# last words";
  writeConf(before);
  EXPECT_EQ(run({"-p", "Q1", "-o", "/dev/usb/lp1"}).status, 0);
  expectRotated(before, configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/usb/lp1\n</Printer>\n\n") + "# last words");
}

// One block per queue: a block that stands after <Ports> is changed where
// it stands, never joined by a second one.
TEST_F(RewriteTest, BlockAfterPortsIsModifiedInPlace) {
  const std::string before = configWith(cupsRoot()) + "<Printer Q2>\nDevicePath /dev/old\n</Printer>\n";
  writeConf(before);
  const RunResult result = run({"-p", "Q2", "-o", "/dev/new"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, list({{"Q2", "parallel", "/dev/lp0", "/dev/new", "Modified"}}));
  expectRotated(before, configWith(cupsRoot()) + "<Printer Q2>\nDevicePath /dev/new\n</Printer>\n");
}

TEST_F(RewriteTest, BlocksShiftedByAnAppendNeverShowAnotherBlocksData) {
  // The read pass leaves Gone's status and device path in slot 1; the append
  // takes slot 0 and Q3, which has no device path, moves into slot 1.
  const std::string before =
      configWith(cupsRoot()) + "<Printer Q3>\n</Printer>\n<Printer Gone>\nDevicePath /dev/gone\n</Printer>\n";
  writeConf(before);
  const RunResult result = run({"-p", "Q1", "-o", "/dev/usb/lp1"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, list({kQ1New,
                              {"Q3", "usb", "//Zorv/ZPR4410", "", ""},
                              {"Gone", "", kNoFifo, "/dev/gone", "invalid Spool Name"}}));
}

// Names are compared as the scheduler compares them, and written as it
// spells them; a block without a device path line gets one before its end.
TEST_F(RewriteTest, BlockWithoutDevicePathAndNamesInAnotherCase) {
  const std::string before =
      configWith(cupsRoot(), "<Printer Q2>\n</Printer>\n<Printer q2>\nDevicePath /dev/q\n</Printer>\n"
                             "<Printer Q3>\n  DevicePath /dev/indented\n</Printer>\n");
  writeConf(before);
  const RunResult result = run({"-p", "q2", "-o", "/dev/x"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, list({{"Q2", "parallel", "/dev/lp0", "/dev/x", "Modified"},
                              {"Q2", "parallel", "/dev/lp0", "/dev/x", "Modified"},
                              {"Q3", "usb", "//Zorv/ZPR4410", "", ""}}));
  expectRotated(before, configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/x\n</Printer>\n<Printer Q2>\nDevicePath /dev/x\n"
                                               "</Printer>\n<Printer Q3>\n</Printer>\n"));
  const RunResult added = run({"-p", "q3", "-o", "/dev/y"});
  EXPECT_EQ(added.status, 0);
  EXPECT_NE(readConf().find("<Printer Q3>\nDevicePath /dev/y\n</Printer>\n"), std::string::npos);
  EXPECT_EQ(run({"-x", "q3"}).status, 0);
  EXPECT_EQ(readConf().find("Q3"), std::string::npos);
}

TEST_F(RewriteTest, RemoveWorksAfterTheQueueLeftCups) {
  CupsScheduler::shared().addQueue("Leaving", "socket://printer.example:9100");
  const std::string before = configWith(cupsRoot(), "<Printer Leaving>\nDevicePath /dev/l\n</Printer>\n");
  writeConf(before);
  CupsScheduler::shared().removeQueue("Leaving");
  const RunResult result = run({"-x", "Leaving"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, list({{"Leaving", "", kNoFifo, "/dev/l", "Delete"}}));
  expectRotated(before, configWith(cupsRoot()));
}

TEST_F(RewriteTest, RefusedRequestsChangeNothing) {
  const std::string before = configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/lp9\n</Printer>\n");
  const std::string noScheduler = file("no-cupsd.sock");
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status = 2;
    std::map<std::string, std::string> env = {};
  };
  const std::vector<Case> cases = {
      {{"-p", "NoSuchQueue", "-o", "/dev/x"}, "\n NoSuchQueue can't find in CUPS Spooler Entry!!\n\n", ""},
      {{"-p", "NoSuchQueue"}, "\n NoSuchQueue can't find in CUPS Spooler Entry!!\n\n", ""},
      {{"-p", "Q1"}, "Please input -o [Printer Device Path]\n", ""},
      {{"-p", "Q1", "-o", ""}, "Please input -o [Printer Device Path]\n", ""},
      {{"-p", ""}, "", "zorvadmin: the queue name must not be empty\n"},
      {{"-x", ""}, "", "zorvadmin: the queue name must not be empty\n"},
      {{"-x", "Q2\nEvil"}, "", "zorvadmin: the queue name must not contain a line break\n"},
      {{"-p", "Q1\r", "-o", "/dev/x"}, "", "zorvadmin: the queue name must not contain a line break\n"},
      {{"-p", "Q1", "-o", "/dev/x\n<Printer Evil>"}, "", "zorvadmin: the device path must not contain a line break\n"},
      {{"-p", "Q1", "-o", "usb/lp0"}, "", "zorvadmin: the device path must be absolute\n"},
      {{"--dry-run", "-p", "Q1", "-o", "lp0"}, "", "zorvadmin: the device path must be absolute\n"},
      {{"-p", "Q1", "-o", "/dev/x"}, "",
       "zorvadmin: cannot reach the CUPS scheduler at " + noScheduler +
           ": No such file or directory; queue names were not checked\n",
       4, {{"CUPS_SERVER", noScheduler}}},
  };
  // A refusal leaves the file as it was, and creates none where there was none.
  for (const bool missing : {false, true}) {
    SCOPED_TRACE(missing ? "no configuration" : "a configuration");
    std::filesystem::remove(conf());
    std::filesystem::remove(conf() + ".lock");
    if (!missing) writeConf(before);
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::PrintToString(c.args));
      const RunResult result = run(c.args, c.env);
      EXPECT_EQ(result.status, c.status);
      EXPECT_EQ(result.out, c.out);
      EXPECT_EQ(result.err, c.err);
      if (missing) {
        EXPECT_FALSE(fileExists(conf()));
        EXPECT_FALSE(fileExists(conf() + ".lock"));
      } else {
        expectFiles(before);
      }
    }
  }
}

TEST_F(RewriteTest, AddWithoutPortsLineIsRefused) {
  const std::string before = "<Path>\nCUPS_ConfigPath " + cupsRoot() + "\n</Path>\n";
  writeConf(before);
  const RunResult result = run({"-p", "Q1", "-o", "/dev/usb/lp1"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "zorvadmin: cannot add Q1: " + conf() + " has no <Ports> line to add it before\n");
  expectFiles(before);
  // A block that is there can still be modified.
  writeConf(before + "<Printer Q1>\nDevicePath /dev/a\n</Printer>\n");
  EXPECT_EQ(run({"-p", "Q1", "-o", "/dev/b"}).status, 0);
  EXPECT_EQ(readConf(), before + "<Printer Q1>\nDevicePath /dev/b\n</Printer>\n");
}

TEST_F(RewriteTest, StrayClosingTagMovesNoCount) {
  const std::string before = configWith(cupsRoot(), "</Printer>\n<Printer Q2>\nDevicePath /dev/lp9\n</Printer>\n</Printer>\n");
  writeConf(before);
  const RunResult result = run({"-x", "Q2"});
  EXPECT_EQ(result.out, list({{"Q2", "parallel", "/dev/lp0", "/dev/lp9", "Delete"}}));
  expectRotated(before, configWith(cupsRoot(), "</Printer>\n</Printer>\n"));
}

std::string blocks(int count, bool withUnknownLines) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += "<Printer Q2>\nDevicePath /dev/lp" + std::to_string(i) + "\n";
    if (withUnknownLines) text += "Unknown line\n";
    text += "</Printer>\n";
  }
  return text;
}

TEST_F(RewriteTest, BlocksBeyondSixteenAreKeptButNotListed) {
  const std::string unlistedQ3 = "<Printer Q3>\nDevicePath /dev/x\nUnknown\n</Printer>\n";
  const std::string unlistedQ1 = "<Printer Q1>\nDevicePath /dev/y\nUnknown\n</Printer>\n";
  writeConf(configWith(cupsRoot(), blocks(16, true) + unlistedQ3 + unlistedQ1));
  std::vector<Row> rows;
  for (int i = 0; i < 16; ++i) rows.push_back({"Q2", "parallel", "/dev/lp0", "/dev/lp" + std::to_string(i), ""});
  EXPECT_EQ(run({"-o", "x"}).out, list(rows, " Entries not listed: 2 (the table holds 16)\n"));

  // Removing an unlisted block removes it (it is still counted in this run,
  // as a removed listed entry keeps its row); the other one passes through whole.
  const RunResult removed = run({"-x", "Q1"});
  EXPECT_EQ(removed.status, 0);
  EXPECT_EQ(removed.out, list(rows, " Entries not listed: 2 (the table holds 16)\n"));
  EXPECT_EQ(run({"-o", "x"}).out, list(rows, " Entries not listed: 1 (the table holds 16)\n"));
  const std::string expected = configWith(cupsRoot(), blocks(16, false) + unlistedQ3);
  EXPECT_EQ(readConf(), expected);

  // An add that needs a seventeenth slot is refused.
  const RunResult refused = run({"-p", "Q1", "-o", "/dev/z"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "zorvadmin: cannot add Q1: the table holds 16 entries\n");
  EXPECT_EQ(readConf(), expected);
  EXPECT_FALSE(fileExists(conf() + "~"));

  // Sixteen blocks fill the table: the seventeenth is refused as well.
  writeConf(configWith(cupsRoot(), blocks(16, false)));
  EXPECT_EQ(run({"-p", "Q1", "-o", "/dev/z"}).status, 2);
  EXPECT_EQ(run({"-p", "Q2", "-o", "/dev/z"}).status, 0);
}

TEST_F(RewriteTest, LongLineIsNotCutByARewrite) {
  const std::string before = configWith(cupsRoot()) + "# " + std::string(2000, 'c') + "\n";
  writeConf(before);
  const RunResult result = run({"-x", "Q1"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "zorvadmin: cannot rewrite " + conf() + ": it has a line longer than 1024 characters\n");
  expectFiles(before);
}

// A directory at the new file's name is someone else's: the rewrite goes
// to a name of its own and leaves it alone. A stale new file (a regular
// file of root's) is what a killed run left: the change removes it.
TEST_F(RewriteTest, WhatStandsAtTheNewFileNameIsLeftAlone) {
  for (const bool directory : {false, true}) {
    SCOPED_TRACE(directory ? "directory" : "file");
    std::filesystem::remove_all(conf() + "~");
    std::filesystem::remove(conf() + ".bak");
    directory ? void(::mkdir((conf() + "~").c_str(), 0755)) : writeFile(conf() + "~", std::string(10000, 'z'));
    const std::string before = configWith(cupsRoot());
    writeConf(before);
    EXPECT_EQ(run({"-p", "Q1", "-o", "/dev/usb/lp1"}).status, 0);
    EXPECT_EQ(readConf(), configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/usb/lp1\n</Printer>\n\n"));
    EXPECT_EQ(readFile(conf() + ".bak"), before);
    EXPECT_EQ(directory ? std::filesystem::is_directory(conf() + "~") : !fileExists(conf() + "~"), true);
    EXPECT_EQ(newFilesLeft({"zorv.conf~"}), std::vector<std::string>{});
  }
}

TEST_F(RewriteTest, NewFileThatCannotBeCreatedStopsTheRewrite) {
  const std::string before = configWith(cupsRoot());
  writeConf(before);
  writeFile(conf() + ".lock", "");
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
  const RunResult result = runWrapped(kWithoutDacOverride, {"-p", "Q1", "-o", "/dev/usb/lp1"});
  ::chmod(dir_.path().c_str(), 0700);
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "zorvadmin: cannot create " + conf() + "~: Permission denied\n");
  EXPECT_EQ(readConf(), before);
  EXPECT_FALSE(fileExists(conf() + ".bak"));
}

TEST_F(RewriteTest, BackupThatCannotBeReplacedStopsTheRotation) {
  const std::string before = configWith(cupsRoot());
  writeConf(before);
  ASSERT_EQ(::mkdir((conf() + ".bak").c_str(), 0755), 0);
  writeFile(conf() + ".bak/old", "keep");
  expectFileError(run({"-p", "Q1", "-o", "/dev/usb/lp1"}),
                  "zorvadmin: cannot remove " + conf() + ".bak: Is a directory\n", before);
  EXPECT_EQ(readFile(conf() + ".bak/old"), "keep");
}

// The scheduler may log a request after its answer has gone out: one more
// request of a kind no run makes, once logged, means every request before
// it is too.
void waitForAccessLog(const CupsScheduler& scheduler) {
  const int marks = scheduler.accessLogCount("CUPS-Get-Classes");
  ASSERT_EQ(runProgram({"lpstat", "-c"}, scheduler.clientEnv()).status, 0);
  for (int tries = 0; scheduler.accessLogCount("CUPS-Get-Classes") == marks && tries < 3000; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// A run asks for the named queues alone: a scheduler of fewer queues than
// the short list holds answers in that one list; a larger one gets one
// Get-Printer-Attributes per name, or one list of every queue past the
// switch-over. A name the scheduler lacks costs the browsing list (the
// default, then every destination) once per run, however many there are.
TEST_F(RewriteTest, SchedulerRequestsPerRun) {
  const std::string known = "<Printer Q1>\n</Printer>\n<Printer q2>\n</Printer>\n<Printer Q3>\n</Printer>\n";
  const std::string unknown = "<Printer Gone>\n</Printer>\n<Printer Left>\n</Printer>\n";
  std::string many;
  for (int i = 0; i < 70; ++i) many += "<Printer Gone" + std::to_string(i) + ">\n</Printer>\n";
  struct Case {
    bool large;
    std::vector<std::string> args;
    std::string blocks;
    int attributeRequests, listRequests, defaultRequests;
  };
  const Case cases[] = {
      {false, {}, known, 0, 1, 0},
      {false, {"-p", "Q2", "-o", "/dev/x"}, known, 0, 1, 0},
      {false, {"-p", "Q9", "-o", "/dev/x"}, known, 0, 2, 1},  // an add of a queue the file lacks
      {false, {}, known + unknown, 0, 2, 1},
      {false, {"--check"}, known + unknown, 0, 2, 1},
      {true, {}, known, 3, 1, 0},
      {true, {"-p", "Q2", "-o", "/dev/x"}, known, 3, 1, 0},  // the operand is one of the names
      {true, {"-p", "Q9", "-o", "/dev/x"}, known, 4, 2, 1},
      {true, {"-x", "Q3"}, known, 3, 1, 0},
      {true, {}, known + unknown, 5, 2, 1},
      {true, {"--tsv"}, known + many, 0, 2, 1},  // 73 names: every queue at once
      {true, {}, known + many, 16, 2, 1},        // the listing's 16 entries only
      {true, {"--check"}, known + unknown, 5, 2, 1},
  };
  auto& scheduler = CupsScheduler::shared();
  bool large = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.blocks.substr(0, 60) + (c.large ? " large" : " small") + ", arguments: " +
                 std::to_string(c.args.size()));
    if (c.large && !large) scheduler.addQueues("Filler", 64);
    large = c.large;
    writeConf(configWith(cupsRoot(), c.blocks));
    const int attributes = scheduler.accessLogCount("Get-Printer-Attributes");
    const int lists = scheduler.accessLogCount("CUPS-Get-Printers");
    const int defaults = scheduler.accessLogCount("CUPS-Get-Default");
    // A budget no loaded machine runs out of: a run cut short asks less.
    EXPECT_EQ(run(c.args, {{"ZORV_SCHEDULER_TIMEOUT", "300"}}).err, "");
    waitForAccessLog(scheduler);
    EXPECT_EQ(scheduler.accessLogCount("Get-Printer-Attributes") - attributes, c.attributeRequests);
    EXPECT_EQ(scheduler.accessLogCount("CUPS-Get-Printers") - lists, c.listRequests);
    EXPECT_EQ(scheduler.accessLogCount("CUPS-Get-Default") - defaults, c.defaultRequests);
  }
  scheduler.removeQueues("Filler", 64);
}

// On a scheduler of 5,000 queues a run asks the short list once, then each
// named queue once, all on at most 8 connections, however many queues the
// scheduler has; a connection closed after each answer is opened again,
// and an answer that is not HTTP leaves the names unchecked. Counted by a
// stand-in scheduler, exactly.
TEST_F(RewriteTest, RequestsAndConnectionsPerRunOnAScheduler5000Queues) {
  std::string twenty;
  for (int i = 0; i < 20; ++i) twenty += "<Printer Q" + std::to_string(i * 250) + ">\n</Printer>\n";
  using Mode = LargeScheduler::Mode;
  struct Case {
    Mode mode;
    std::vector<std::string> args;
    int attributeRequests, connections;
    std::string state;  // of every entry in the --tsv output
  };
  const Case cases[] = {
      {Mode::KeepAlive, {"--tsv"}, 20, 8, "ok"},
      {Mode::KeepAlive, {"-o", "none"}, 16, 8, ""},  // the listing's 16 entries
      {Mode::KeepAlive, {"-p", "Q250", "-o", "/dev/x"}, 16, 8, ""},  // the operand is one of the names
      {Mode::CloseAfterEachAnswer, {"--tsv"}, 20, 21, "ok"},
      {Mode::NotHttp, {"--tsv"}, 0, 1, "unchecked"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.mode == Mode::KeepAlive ? "" : c.mode == Mode::NotHttp ? ", not HTTP" : ", closing"));
    const LargeScheduler scheduler(file("large.sock"), 5000, c.mode);
    writeConf(configWith(cupsRoot(), twenty));
    const RunResult result = run(c.args, {{"CUPS_SERVER", file("large.sock")}, {"ZORV_SCHEDULER_TIMEOUT", "300"}});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::map<std::string, int> requests = scheduler.requests();
    std::map<std::string, int> expected{{"CUPS-Get-Printers", 1}};
    if (c.attributeRequests > 0) expected["Get-Printer-Attributes"] = c.attributeRequests;
    EXPECT_EQ(requests, expected);
    EXPECT_EQ(scheduler.connections(), c.connections);
    if (c.state.empty()) continue;
    EXPECT_EQ(result.err, c.mode != Mode::NotHttp ? "" : "zorvadmin: cannot reach the CUPS scheduler at " +
                                                             file("large.sock") +
                                                             ": the scheduler's answer is not HTTP; queue names "
                                                             "were not checked\n");
    std::istringstream lines(result.out);
    int entries = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("entry\t", 0) != 0) continue;
      ++entries;
      EXPECT_EQ(line.substr(line.rfind('\t') + 1), c.state) << line;
    }
    EXPECT_EQ(entries, 20);
  }
}

}  // namespace
}  // namespace zorv::test
