// Device paths that cannot name a printer (a file, a directory, a FIFO, a
// socket, white space at an end) are refused by -p and --dry-run and are
// errors for --check; a path where a printer may appear later is accepted
// with a warning.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "cli/cli_fixture.h"
#include "support/syslog_capture.h"

namespace zorv::test {
namespace {

class DevicePathTest : public CliTest {
 protected:
  // Standard error as it is: the fixture's run leaves out the warnings.
  RunResult raw(const std::vector<std::string>& args) const {
    std::vector<std::string> command{zorvadminPath()};
    command.insert(command.end(), args.begin(), args.end());
    return runProgram(command, runEnv({}));
  }

  void makeSocket(const std::string& path) const {
    const int fd = boundUnixSocket(path, SOCK_STREAM);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
};

std::string entry(const std::string& path) { return "<Printer Q1>\nDevicePath " + path + "\n</Printer>\n"; }

TEST_F(DevicePathTest, OnlyACharacterDeviceOrNothingYetIsAccepted) {
  const std::string plain = file("plain"), directory = file("directory"), fifo = file("fifo"), sock = file("socket");
  const std::string toNull = file("null"), dangling = file("dangling"), loop = file("loop");
  writeFile(plain, "");
  std::filesystem::create_directory(directory);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  makeSocket(sock);
  std::filesystem::create_symlink("/dev/null", toNull);
  std::filesystem::create_symlink(file("nowhere"), dangling);
  std::filesystem::create_symlink(loop, loop);
  const std::string notDevice = " is not a character device";
  const std::string refused = notDevice + "; refused\n";
  struct Case {
    std::string path;
    int status;        // of -p and of --dry-run -p
    std::string err;   // theirs
    int checkStatus;
    std::string finding;  // --check's, after "FILE:LINE: "
  };
  const std::vector<Case> cases = {
      {plain, 2, "zorvadmin: the device path " + plain + refused, 2, "the device path " + plain + " of Q1" + notDevice},
      {directory, 2, "zorvadmin: the device path " + directory + refused, 2,
       "the device path " + directory + " of Q1" + notDevice},
      {fifo, 2, "zorvadmin: the device path " + fifo + refused, 2, "the device path " + fifo + " of Q1" + notDevice},
      {sock, 2, "zorvadmin: the device path " + sock + refused, 2, "the device path " + sock + " of Q1" + notDevice},
      {toNull, 0, "", 0, ""},
      {dangling, 0, "zorvadmin: warning: the device path " + dangling + " does not exist\n", 0,
       "warning: the device path " + dangling + " of Q1 does not exist"},
      {loop, 0, "zorvadmin: warning: the device path " + loop + " cannot be checked\n", 0,
       "warning: the device path " + loop + " of Q1 cannot be checked"},
      // The file's value begins after the spaces that follow the keyword.
      {" /dev/null", 2, "zorvadmin: the device path must not begin with a space, a tab or a colon\n", 0, ""},
      {"/dev/null ", 2, "zorvadmin: the device path '/dev/null ' begins or ends with white space; refused\n", 2,
       "the device path '/dev/null ' of Q1 begins or ends with white space"},
      {"/dev/null\t", 2, "zorvadmin: the device path must not contain control characters\n", 2,
       "the device path '/dev/null\\x09' of Q1 begins or ends with white space"},
      {"/dev/usb/lp9", 0, "zorvadmin: warning: the device path /dev/usb/lp9 does not exist\n", 0,
       "warning: the device path /dev/usb/lp9 of Q1 does not exist"},
      {"/dev/null", 0, "", 0, ""},
  };
  const std::string before = configWith(cupsRoot());
  for (const Case& row : cases) {
    SCOPED_TRACE("'" + row.path + "'");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--quiet", "-p", "Q1", "-o", row.path},
                                                 std::vector<std::string>{"--dry-run", "-p", "Q1", "-o", row.path}}) {
      SCOPED_TRACE(args[0]);
      writeConf(before);
      const std::vector<std::string> files = filesLeft();
      const RunResult result = raw(args);
      EXPECT_EQ(result.status, row.status);
      EXPECT_EQ(result.err, row.err);
      if (row.status != 0 || args[0] == "--dry-run") {
        EXPECT_EQ(readConf(), before);
        EXPECT_EQ(filesLeft(), files);
      } else {
        EXPECT_EQ(readConf(), configWith(cupsRoot(), entry(row.path) + "\n"));
      }
      if (row.status != 0) {
        EXPECT_EQ(result.out, "");
      }
    }
    const std::string checked = configWith(cupsRoot(), entry(row.path));
    writeConf(checked);
    const RunResult check = raw({"--check"});
    const auto at = static_cast<long>(checked.find("\nDevicePath ") + 1);
    const std::string prefix = conf() + ":" + std::to_string(std::count(checked.begin(), checked.begin() + at, '\n') + 1);
    EXPECT_EQ(check.status, row.checkStatus);
    EXPECT_EQ(check.out, row.finding.empty() ? "" : prefix + ": " + row.finding + "\n");
    EXPECT_EQ(check.err, "");
  }
  // Refused before anything is made: no configuration, no lock.
  std::filesystem::remove(conf());
  const std::vector<std::string> files = filesLeft();
  EXPECT_EQ(raw({"-p", "Q1", "-o", plain}).status, 2);
  EXPECT_EQ(filesLeft(), files);
}

TEST_F(DevicePathTest, ARefusedPathIsLogged) {
  writeConf(configWith(cupsRoot()));
  const std::string plain = file("plain");
  writeFile(plain, "");
  std::vector<std::string> command{zorvadminPath(), "-p", "Q1", "-o", plain};
  SyslogRun run;
  try {
    run = runCapturingSyslog(command, runEnv({}));
  } catch (const std::runtime_error& error) {
    GTEST_SKIP() << "no private /dev/log: " << error.what();
  }
  EXPECT_EQ(run.result.status, 2);
  ASSERT_EQ(run.messages.size(), 1u);
  const std::optional<SyslogMessage> message = parseSyslogMessage(run.messages[0]);
  ASSERT_TRUE(message.has_value()) << run.messages[0];
  EXPECT_EQ(message->level, 4);
  const std::string text = message->text;
  EXPECT_EQ(text.substr(std::min(text.size(), text.find(" could not set"))),
            " could not set the device path of queue Q1 to " + plain + " in " + conf() + ": the device path " + plain +
                " is not a character device; refused");
}

}  // namespace
}  // namespace zorv::test
