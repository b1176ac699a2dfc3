// Text the tool did not write itself (the file's queue names, paths and
// settings, the scheduler's status message) never reaches a terminal or
// the log raw: every control character is escaped, printable text and
// bytes past ASCII stay as they are.
#include "cli/cli_fixture.h"
#include "support/stand_in_socket.h"
#include "support/syslog_capture.h"

namespace zorv::test {
namespace {

class EscapedOutputTest : public CliTest {};

TEST_F(EscapedOutputTest, FileTextIsEscapedWhereverItIsPrinted) {
  // ESC and BEL in a queue name, DEL and ESC in device paths, ESC and BEL in
  // settings; a CR in the middle of a line ends the line there.
  const std::string blocks = "<Printer Q\x1b]0;owned\x07>\nDevicePath /dev/zorv-none\x7f\n</Printer>\n"
                             "<Printer Q3>\nDevicePath /dev/zorv-\x1b[1mbold\\\n</Printer>\n"
                             "<Printer Q2>\nDevicePath /dev/zorv-cr\rhidden\n</Printer>\n";
  std::string content = configWith(cupsRoot(), blocks);
  content.insert(content.find("</Path>"), "LogDirectoryPath /var/log/\x1b[31mzorv\x07\n");
  content.replace(content.find("UI_Port  59787"), 14, "UI_Port  59787\x1b[0m");
  const std::string log = "/var/log/\\x1b[31mzorv\\x07";
  const std::vector<Row> rows = {{"Q\\x1b]0;owned\\x07", "", kNoFifo, "/dev/zorv-none\\x7f", "invalid Spool Name"},
                                 {"Q3", "usb", "//Zorv/ZPR4410", "/dev/zorv-\\x1b[1mbold\\", ""},
                                 {"Q2", "parallel", "/dev/lp0", "/dev/zorv-cr", ""}};
  const std::string c = conf();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  };
  const std::vector<Case> cases = {
      {{"-o", "x"}, 0, listing(cupsRoot(), log, 59787, rows),
       "zorvadmin: warning: -o x is ignored: a device path goes only with -p\n"},
      {{"--tsv"}, 0,
       "setting\tCUPS_ConfigPath\t" + cupsRoot() + "\nsetting\tLogDirectoryPath\t" + log +
           "\nsetting\tUI_Port\t59787\\x1b[0m\n"
           "entry\tQ\\x1b]0;owned\\x07\t/dev/zorv-none\\x7f\t\t\tunknown-queue\n"
           "entry\tQ3\t/dev/zorv-\\x1b[1mbold\\\\\tusb\t//Zorv/ZPR4410\tok\n"
           "entry\tQ2\t/dev/zorv-cr\tparallel\t/dev/lp0\tok\n",
       ""},
      {{"--get", "Q3"}, 0, "/dev/zorv-\\x1b[1mbold\\\n", ""},
      {{"--check", c}, 2,
       c + ":28: warning: the CUPS scheduler knows no queue Q\\x1b]0;owned\\x07\n" +
           c + ":29: warning: the device path '/dev/zorv-none\\x7f' of Q\\x1b]0;owned\\x07 does not exist\n" +
           c + ":32: warning: the device path '/dev/zorv-\\x1b[1mbold\\\\' of Q3 does not exist\n" +
           c + ":35: warning: the device path /dev/zorv-cr of Q2 does not exist\n" +
           c + ":36: unknown line in a printer block; a rewrite drops it\n" +
           c + ":41: UI_Port is not a number from 1 to 65535\n",
       ""},
      {{"-p", "Q1", "-o", "/dev/zorv-q1"}, 0,
       listing(cupsRoot(), log, 59787,
               {rows[0], rows[1], rows[2], {"Q1", "zorv", "/var/run/zorv/Q1.fifo", "/dev/zorv-q1", "New!!"}}),
       "zorvadmin: warning: the device path /dev/zorv-q1 does not exist\n"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.args.front());
    writeConf(content);
    std::vector<std::string> command{zorvadminPath()};
    command.insert(command.end(), row.args.begin(), row.args.end());
    const RunResult result = runProgram(command, runEnv({}));  // device warnings kept
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, row.err);
  }
}

// A scheduler that fails with a status message of its own making: the
// message is shown quoted and escaped, on standard error and in the log
// line of the refusal, and forges no second line.
TEST_F(EscapedOutputTest, SchedulerStatusMessageIsQuotedAndEscaped) {
  writeConf(configWith(cupsRoot()));
  const std::string socket = file("hostile.sock");
  const struct {
    std::string message, shown;
  } cases[] = {
      {"Busy", "Busy"},
      {"Busy now", "'Busy now'"},
      {"no\nzorvadmin[1]: root (uid 0) removed everything\x1b[2J\x07", "'no\\x0azorvadmin[1]: root (uid 0) removed "
                                                                      "everything\\x1b[2J\\x07'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    StandInSocket scheduler(socket, StandInSocket::Mode::FailsWithStatusMessage, c.message);
    std::map<std::string, std::string> env = runEnv({{"CUPS_SERVER", socket}});
    SyslogRun logged;
    try {
      logged = runCapturingSyslog({zorvadminPath(), "-p", "Q1", "-o", "/dev/null"}, env);
    } catch (const std::runtime_error& error) {
      GTEST_SKIP() << "no private /dev/log: " << error.what();
    }
    const std::string reason =
        "cannot reach the CUPS scheduler at " + socket + ": " + c.shown + "; queue names were not checked";
    EXPECT_GT(scheduler.connections(), 0);
    EXPECT_EQ(logged.result.status, 4);
    EXPECT_EQ(logged.result.err, "zorvadmin: " + reason + "\n");
    ASSERT_EQ(logged.messages.size(), 1u);
    const std::optional<SyslogMessage> message = parseSyslogMessage(logged.messages[0]);
    ASSERT_TRUE(message.has_value()) << logged.messages[0];
    const std::string suffix = " in " + conf() + ": " + reason;
    ASSERT_GE(message->text.size(), suffix.size());
    EXPECT_EQ(message->text.substr(message->text.size() - suffix.size()), suffix);
  }
  expectFiles(configWith(cupsRoot()));
}

}  // namespace
}  // namespace zorv::test
