// --set through the real binary: each setting replaced where it stands,
// added to its section or in a section of its own, refused when invalid,
// and a value the file already has leaves the file as it was. Every other
// byte of the file stays, and a key the file sets ambiguously is refused.
#include <sys/stat.h>

#include <filesystem>

#include "cli/cli_fixture.h"
#include "support/syslog_capture.h"

namespace zorv::test {
namespace {

class SetTest : public CliTest {};

std::string replacedIn(std::string content, const std::string& from, const std::string& to) {
  content.replace(content.find(from), from.size(), to);
  return content;
}

// One --set run: the file before, the arguments, and what must follow.
struct Case {
  const char* what;
  std::string before;
  std::vector<std::string> args;
  int status;
  std::string after;  // empty: the file as it was
  std::string err;
};

TEST_F(SetTest, ChangesOneSettingThroughTheRewrite) {
  const std::string base = configWith(cupsRoot());
  const std::string noPorts = base.substr(0, base.find("<Ports>"));
  const std::vector<Case> cases = {
      {"a port replaced where it stands", base, {"--quiet", "--set", "UI_Port", "59788"}, 0,
       replacedIn(base, "UI_Port  59787\n", "UI_Port 59788\n"), ""},
      {"a path the file lacks, added to its section", base, {"--quiet", "--set", "LogDirectoryPath", "/var/log/zorv/"}, 0,
       replacedIn(base, "</Path>", "LogDirectoryPath /var/log/zorv/\n</Path>"), ""},
      {"a section the file lacks, added at its end", noPorts, {"--quiet", "--set", "UI_Port", "631"}, 0,
       noPorts + "\n<Ports>\nUI_Port 631\n</Ports>\n", ""},
      {"the value the file has", base, {"--quiet", "--set", "UI_Port", "59787"}, 0, "", ""},
      {"a port out of range", base, {"--set", "UI_Port", "65536"}, 2, "",
       "zorvadmin: the value of UI_Port must be a number from 1 to 65535\n"},
      {"a relative path", base, {"--set", "CUPS_ConfigPath", "etc/cups"}, 2, "",
       "zorvadmin: the value of CUPS_ConfigPath must be an absolute path\n"},
      {"an unknown setting", base, {"--set", "DevicePath", "/dev/x"}, 2, "",
       "zorvadmin: --set knows UI_Port, LogDirectoryPath and CUPS_ConfigPath, not DevicePath\n"},
      {"a control character", base, {"--set", "LogDirectoryPath", "/var/log/\x1b[2J"}, 2, "",
       "zorvadmin: the value must not contain control characters\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(conf() + ".bak");
    writeConf(c.before);
    struct stat before {};
    ::stat(conf().c_str(), &before);
    const RunResult result = run(c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(readConf(), c.after.empty() ? c.before : c.after);
    EXPECT_EQ(fileExists(conf() + ".bak"), !c.after.empty());
    struct stat now {};
    ::stat(conf().c_str(), &now);
    EXPECT_EQ(now.st_ino == before.st_ino, c.after.empty());
  }
}

TEST_F(SetTest, DryRunShowsTheChangeAndListsTheNewValue) {
  const std::string before = configWith(cupsRoot());
  writeConf(before);
  const RunResult result = run({"--dry-run", "--set", "UI_Port", "59788"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("\n-UI_Port  59787\n+UI_Port 59788\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find(" UI Port         = 59788\n"), std::string::npos) << result.out;
  EXPECT_EQ(readConf(), before);
  EXPECT_FALSE(fileExists(conf() + ".bak"));
  const RunResult incomplete = run({"--set", "UI_Port"});
  EXPECT_EQ(incomplete.status, 2);
  EXPECT_EQ(incomplete.err, "zorvadmin: --set needs a setting and its value\n" + kRefusedUsage);
}

// Every line but the setting's stays byte for byte, line ends included; a
// dry run agrees with the real run, refusals included.
TEST_F(SetTest, ChangesOnlyTheSettingsLineAndRefusesAnAmbiguousOne) {
  const std::string c = conf();
  const std::string path = "<Path>\nCUPS_ConfigPath " + cupsRoot() + "\n</Path>\n";  // lines 1 to 3
  const std::string ports = "<Ports>\nUI_Port 59787\n</Ports>\n";
  const std::vector<std::string> port631 = {"--quiet", "--set", "UI_Port", "631"};
  const auto crlf = [](std::string text, const std::string& end) {
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + end.size())) {
      text.replace(at, 1, end);
    }
    return text;
  };
  const std::string refusedLine = ": this line is read as UI_Port, as it begins with that name; nothing changed\n";
  const std::vector<Case> cases = {
      {"text outside sections", "# head\nloose text\n" + path + "between\n" + ports + "trailing", port631, 0,
       "# head\nloose text\n" + path + "between\n<Ports>\nUI_Port 631\n</Ports>\ntrailing", ""},
      {"comments and unknown lines in a printer block",
       path + "<Printer Q1>\n  # left tray\n\tSpeed 9600\nDevicePath /dev/null\n</Printer>\n" + ports, port631, 0,
       path + "<Printer Q1>\n  # left tray\n\tSpeed 9600\nDevicePath /dev/null\n</Printer>\n<Ports>\nUI_Port 631\n</Ports>\n",
       ""},
      {"CR LF line ends", crlf("stray\n" + path + ports, "\r\n"), port631, 0,
       crlf("stray\n" + path + "<Ports>\nUI_Port 631\n</Ports>\n", "\r\n"), ""},
      {"CR line ends", crlf(path + ports + "\n", "\r"), port631, 0,
       crlf(path + "<Ports>\nUI_Port 631\n</Ports>\n\n", "\r"), ""},
      {"a last line without a line end", path + "<Ports>\nUI_Port 59787\n</Ports>", port631, 0,
       path + "<Ports>\nUI_Port 631\n</Ports>", ""},
      {"the setting on a last line without a line end", path + "<Ports>\nUI_Port 59787", port631, 0,
       path + "<Ports>\nUI_Port 631", ""},
      {"blank lines after the setting", path + "<Ports>\nUI_Port 59787\n\n\n</Ports>\n", port631, 0,
       path + "<Ports>\nUI_Port 631\n\n\n</Ports>\n", ""},
      {"a blank line after a path", kDefaultConfig, {"--quiet", "--set", "CUPS_ConfigPath", "/opt/cups/"}, 0,
       replacedIn(kDefaultConfig, "CUPS_ConfigPath   /etc/cups/\n\n", "CUPS_ConfigPath /opt/cups/\n\n"), ""},
      {"separators: colon and tab", path + "<Ports>\nUI_Port:\t59787\n</Ports>\n", port631, 0,
       path + "<Ports>\nUI_Port 631\n</Ports>\n", ""},
      {"a key missing from CR LF section", crlf(path + "<Ports>\n</Ports>\n", "\r\n"), port631, 0,
       crlf(path + "<Ports>\n", "\r\n") + "UI_Port 631\n</Ports>\r\n", ""},
      {"neighbours outside the key's section",
       "CUPS_ConfigPathOld /old/\n<Path>\nCUPS_ConfigPath /etc/cups/\nUI_PortRange 1-9\n</Path>\n  UI_Port 1\n" + ports,
       {"--quiet", "--set", "CUPS_ConfigPath", "/opt/cups/"}, 0,
       "CUPS_ConfigPathOld /old/\n<Path>\nCUPS_ConfigPath /opt/cups/\nUI_PortRange 1-9\n</Path>\n  UI_Port 1\n" + ports, ""},
      {"an indented key is no key", path + "<Ports>\n  UI_Port 1\nUI_Port 59787\n</Ports>\n", port631, 0,
       path + "<Ports>\n  UI_Port 1\nUI_Port 631\n</Ports>\n", ""},
      {"UI_PortRange beside UI_Port", path + "<Ports>\nUI_Port 59787\nUI_PortRange 1-9\n</Ports>\n", port631, 2, "",
       "zorvadmin: " + c + ":6" + refusedLine},
      {"CUPS_ConfigPathOld beside CUPS_ConfigPath", "<Path>\nCUPS_ConfigPathOld /old/\nCUPS_ConfigPath /etc/\n</Path>\n",
       {"--quiet", "--set", "CUPS_ConfigPath", "/opt/"}, 2, "",
       "zorvadmin: " + c + ":2: this line is read as CUPS_ConfigPath, as it begins with that name; nothing changed\n"},
      {"a prefixed key alone", path + "<Ports>\nUI_PortX 1\n</Ports>\n", port631, 2, "", "zorvadmin: " + c + ":5" + refusedLine},
      {"a key set twice", path + "<Ports>\nUI_Port 1\r\n\r\nUI_Port 59787\n</Ports>\n", port631, 2, "",
       "zorvadmin: " + c + ":5: UI_Port is set more than once (also line 7); nothing changed\n"},
      {"a key set twice, to the value asked for", path + "<Ports>\nUI_Port 1\n</Ports>\n" + ports,
       {"--quiet", "--set", "UI_Port", "59787"}, 2, "",
       "zorvadmin: " + c + ":5: UI_Port is set more than once (also line 8); nothing changed\n"},
      {"a key set four times", path + "<Ports>\nUI_Port 1\nUI_Port 2\nUI_Port 3\nUI_Port 4\n</Ports>\n", port631, 2, "",
       "zorvadmin: " + c + ":5: UI_Port is set more than once (also line 6 and 2 more); nothing changed\n"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove(conf() + ".bak");
    writeConf(row.before);
    std::vector<std::string> dryArgs = row.args;
    dryArgs.insert(dryArgs.begin(), "--dry-run");
    const RunResult dry = run(dryArgs);
    EXPECT_EQ(dry.status, row.status);
    EXPECT_EQ(dry.err, row.err);
    EXPECT_EQ(dry.out.empty(), row.after.empty()) << dry.out;  // the diff
    EXPECT_EQ(readConf(), row.before);
    const RunResult result = run(row.args);
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(readConf(), row.after.empty() ? row.before : row.after);
    EXPECT_EQ(fileExists(conf() + ".bak"), !row.after.empty());
  }
}

TEST_F(SetTest, AmbiguousKeyRefusalIsLoggedWithItsReason) {
  writeConf("<Ports>\nUI_Port 1\nUI_Port 2\n</Ports>\n");
  std::map<std::string, std::string> env = runEnv({});
  SyslogRun logged;
  try {
    logged = runCapturingSyslog({zorvadminPath(), "--set", "UI_Port", "631"}, env);
  } catch (const std::runtime_error& error) {
    GTEST_SKIP() << "no private /dev/log: " << error.what();
  }
  EXPECT_EQ(logged.result.status, 2);
  ASSERT_EQ(logged.messages.size(), 1u);
  const std::optional<SyslogMessage> message = parseSyslogMessage(logged.messages[0]);
  ASSERT_TRUE(message.has_value()) << logged.messages[0];
  EXPECT_EQ(message->text, "root (uid 0) could not set UI_Port in " + conf() + ": " + conf() +
                               ":2: UI_Port is set more than once (also line 3); nothing changed");
}

// --check names both kinds of ambiguity as errors; --set's scan failing is
// a file error that changes nothing.
TEST_F(SetTest, CheckReportsAmbiguousKeysAndAFailedScanChangesNothing) {
  const std::string c = conf();
  const std::string path = "<Path>\nCUPS_ConfigPath " + cupsRoot() + "\n</Path>\n";
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {path + "<Ports>\nUI_Port 1\nUI_Port 2\n</Ports>\n", 2,
       c + ":5: UI_Port is set more than once (also line 6)\n"},
      {path + "<Ports>\nUI_Port 1\nUI_PortX 2\n</Ports>\n", 2,
       c + ":6: UI_Port is not a number from 1 to 65535\n" + c + ":6: this line is read as UI_Port, as it begins with that name\n"},
      {"<Path>\nLogDirectoryPath /a/\nCUPS_ConfigPathOld /c/\nCUPS_ConfigPath " + cupsRoot() + "\nLogDirectoryPath /b/\n</Path>\n<Ports>\n</Ports>\n", 2,
       c + ":2: LogDirectoryPath is set more than once (also line 5)\n" + c +
           ":3: this line is read as CUPS_ConfigPath, as it begins with that name\n"},
      {"CUPS_ConfigPathOld /c/\n" + path + "<Ports>\nUI_Port 1\n</Ports>\nUI_Port 2\n", 2,
       c + ":1: text outside any section; a rewrite drops it\n" + c + ":8: text outside any section; a rewrite drops it\n"},
      {path + "<Ports>\nUI_Port 1\n  UI_Port 2\n</Ports>\n", 0, ""},
  };
  for (const auto& [content, status, out] : cases) {
    SCOPED_TRACE(content);
    writeConf(content);
    const RunResult result = run({"--check"});
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.out, out);
  }
  const std::string before = path + "<Ports>\nUI_Port 1\n</Ports>\n";
  writeConf(before);
  // The calls on the file: --set reads it twice before its scan (reads 5
  // and 6), seeks back and copies (read 7); --check scans on its second
  // open, after a read of two.
  const std::vector<std::tuple<std::string, std::string, std::string>> failures = {
      {"--set", "lseek:error=EIO:when=1", "cannot read " + c + ": Input/output error"},
      {"--set", "read:error=EIO:when=5", "cannot read " + c + ": Input/output error"},
      {"--set", "read:error=EIO:when=7", "cannot read " + c + ": Input/output error"},
      {"--check", "openat:error=EACCES:when=2", "cannot open " + c + ": Permission denied"},
      {"--check", "read:error=EIO:when=3", "cannot read " + c + ": Input/output error"},
  };
  for (const auto& [command, injected, message] : failures) {
    SCOPED_TRACE(injected);
    std::vector<std::string> args = {command};
    if (command == "--set") args.insert(args.end(), {"UI_Port", "631"});
    const RunResult result =
        runWrapped({"strace", "-f", "-qq", "-o", "/dev/null", "-P", c, "-e", "inject=" + injected}, args);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "zorvadmin: " + message + "\n");
    EXPECT_EQ(result.out, "");
  }
  expectFiles(before);
}

}  // namespace
}  // namespace zorv::test
