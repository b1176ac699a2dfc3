// Runs at the same moment never interleave: each holds the lock file beside
// the configuration from its read pass to its rotation.
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "cli/cli_fixture.h"
#include "support/stand_in_socket.h"

namespace zorv::test {
namespace {

class ConcurrencyTest : public CliTest {};

TEST_F(ConcurrencyTest, EightAddsAtOnceAllLand) {
  for (int i = 1; i <= 8; ++i) CupsScheduler::shared().addQueue("C" + std::to_string(i), "usb://Zorv/C" + std::to_string(i));
  writeConf(configWith(cupsRoot()));
  std::vector<RunResult> results(8);
  std::vector<std::thread> runs;
  for (int i = 0; i < 8; ++i) {
    runs.emplace_back([&, i] {
      results[static_cast<std::size_t>(i)] = run({"-p", "C" + std::to_string(i + 1), "-o", "/dev/usb/lp" + std::to_string(i)});
    });
  }
  for (auto& t : runs) t.join();
  // Each run lists what it left: its own entry new, under the lock it took.
  for (int i = 1; i <= 8; ++i) {
    const RunResult& result = results[static_cast<std::size_t>(i - 1)];
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const std::size_t row = result.out.find(": C" + std::to_string(i) + " \t: ");
    ASSERT_NE(row, std::string::npos) << result.out;
    const std::string line = result.out.substr(row, result.out.find('\n', row) - row);
    const std::string tail = "\t: /dev/usb/lp" + std::to_string(i - 1) + " \t: New!!";
    EXPECT_EQ(line.substr(line.size() - std::min(line.size(), tail.size())), tail) << line;
  }
  const std::string final = readConf();
  for (int i = 1; i <= 8; ++i) {
    EXPECT_NE(final.find("<Printer C" + std::to_string(i) + ">\nDevicePath /dev/usb/lp" + std::to_string(i - 1) + "\n</Printer>\n\n"),
              std::string::npos)
        << i;
  }
  EXPECT_EQ(final.size(), configWith(cupsRoot()).size() + 8 * std::string("<Printer C1>\nDevicePath /dev/usb/lp0\n</Printer>\n\n").size());
  EXPECT_TRUE(fileExists(conf() + ".lock"));
  EXPECT_FALSE(fileExists(conf() + "~"));
}

// ZORV_LOCK_TIMEOUT shortens the wait from its default of 10 seconds,
// which the message then names.
TEST_F(ConcurrencyTest, GivesUpAfterTheLockTimeoutWhenTheLockIsHeld) {
  const std::string before = configWith(cupsRoot());
  writeConf(before);
  const int held = ::open((conf() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const auto start = std::chrono::steady_clock::now();
  const RunResult result = run({"-p", "Q1", "-o", "/dev/usb/lp1"}, {{"ZORV_LOCK_TIMEOUT", "1"}});
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "zorvadmin: cannot lock " + conf() + ".lock: another run still holds it after 1 seconds\n");
  EXPECT_GE(waited, std::chrono::seconds(1));
  ::close(held);
  expectFiles(before);
}

// No lock is held while a scheduler takes its time: a --restore that waits
// for one that never answers lets a change through, and once killed leaves
// no child behind that holds the lock.
TEST_F(ConcurrencyTest, NoLockIsHeldWhileTheSchedulerIsAsked) {
  const std::string q2 = "<Printer Q2>\nDevicePath /dev/null\n</Printer>\n\n";
  const std::string q3 = "<Printer Q3>\nDevicePath /dev/null\n</Printer>\n\n";
  writeConf(configWith(cupsRoot(), q2));
  writeFile(conf() + ".bak", configWith(cupsRoot(), q2 + q3));
  StandInSocket silent(file("silent.sock"), StandInSocket::Mode::NeverAnswer);
  std::atomic<bool> restoreEnded{false};
  RunResult restore;
  // The shell writes the pid the run then takes over, so it can be killed.
  const std::string pidFile = file("restore.pid");
  std::thread restoring([&] {
    restore = runWrapped({"sh", "-c", "echo $$ >\"$0\"; exec \"$@\"", pidFile}, {"--restore"},
                         {{"CUPS_SERVER", file("silent.sock")}});
    restoreEnded = true;
  });
  while (silent.connections() == 0 && !restoreEnded) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(readConf(), configWith(cupsRoot(), q2 + q3));  // restored; now listing, asking the silent scheduler
  const RunResult removed = run({"-x", "Q3"});
  EXPECT_FALSE(restoreEnded);
  ::kill(std::stoi(readFile(pidFile)), SIGKILL);
  restoring.join();
  EXPECT_EQ(restore.status, 128 + 9);
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(run({"-x", "Q2"}).status, 0);  // the killed run left nothing holding the lock
  EXPECT_EQ(readConf(), configWith(cupsRoot()));
}

// A queue name that first appears in the file on the last of the reads
// under the lock was never asked about: it is listed unchecked, never as a
// queue the scheduler does not know. strace stops the run each time it has
// taken the lock; the test adds a block of a known queue before it reads.
TEST_F(ConcurrencyTest, NameFirstMetOnTheLastReadIsUnchecked) {
  const std::string root = cupsRoot();
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"-o", "x"}, listing(root, "None", 59787,
                            {{"Q1", "zorv", "/var/run/zorv/Q1.fifo", "/dev/null", ""},
                             {"Q2", "parallel", "/dev/lp0", "/dev/null", ""},
                             {"Q3", "usb", "//Zorv/ZPR4410", "/dev/null", "unchecked"}})},
      {{"--tsv"}, "setting\tCUPS_ConfigPath\t" + root + "\nsetting\tLogDirectoryPath\t\nsetting\tUI_Port\t59787\n"
                  "entry\tQ1\t/dev/null\tzorv\t/var/run/zorv/Q1.fifo\tok\n"
                  "entry\tQ2\t/dev/null\tparallel\t/dev/lp0\tok\n"
                  "entry\tQ3\t/dev/null\tusb\t//Zorv/ZPR4410\tunchecked\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    writeConf(configWith(root));
    writeFile(conf() + ".lock", "");
    const std::string trace = file("trace");
    const std::string pidFile = file("run.pid");
    ::unlink(trace.c_str());
    ASSERT_EQ(::mkfifo(trace.c_str(), 0600), 0);
    RunResult result;
    std::thread running([&] {
      result = runWrapped({"strace", "-qq", "-o", trace, "-e", "trace=flock", "-e", "inject=flock:signal=STOP", "sh",
                           "-c", "echo $$ >\"$0\"; exec \"$@\"", pidFile},
                          c.args);
    });
    std::ifstream lines(trace);
    std::string blocks;
    int stops = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.find("stopped by SIGSTOP") == std::string::npos) continue;
      blocks += "<Printer Q" + std::to_string(++stops) + ">\nDevicePath /dev/null\n</Printer>\n";
      writeConf(configWith(root, blocks));
      ::kill(std::stoi(readFile(pidFile)), SIGCONT);
    }
    running.join();
    EXPECT_EQ(stops, 3);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
  }
}

}  // namespace
}  // namespace zorv::test
