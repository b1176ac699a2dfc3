// --set through the real binary: each setting replaced where it stands,
// added to its section or in a section of its own, refused when invalid,
// and a value the file already has leaves the file as it was.
#include <sys/stat.h>

#include <filesystem>

#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

class SetTest : public CliTest {};

std::string replacedIn(std::string content, const std::string& from, const std::string& to) {
  content.replace(content.find(from), from.size(), to);
  return content;
}

TEST_F(SetTest, ChangesOneSettingThroughTheRewrite) {
  const std::string base = configWith(cupsRoot());
  const std::string noPorts = base.substr(0, base.find("<Ports>"));
  struct Case {
    const char* what;
    std::string before;
    std::vector<std::string> args;
    int status;
    std::string after;  // empty: the file as it was
    std::string err;
  };
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
  EXPECT_EQ(incomplete.err, "zorvadmin: --set needs a setting and its value\n" + kUsage);
}

}  // namespace
}  // namespace zorv::test
