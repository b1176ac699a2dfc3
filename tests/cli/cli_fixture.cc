#include "cli/cli_fixture.h"

#include <algorithm>
#include <filesystem>

#include <cstdio>

namespace zorv::test {

const std::string kUsage =
    "\nUsage: \n  zorvadmin [-p Printer-name -o Printer-dev-path]\n  zorvadmin [-x Remove-Printer-name]\n\n";

const std::string kRefusedUsage = kUsage +
                                  "Long options such as --check, --get, --set, --restore and --devices come first;\n"
                                  "zorvadmin --help lists them all, zorvadmin(8) explains them.\n";

const std::string kDefaultConfig =
    "#\n# Quorx Printer Daemon for CUPS Configuration Data\n#\n\n"
    "<Path>\n"
    "# CUPS configuration files Path\n"
    "#  Default  /etc/cups/\n"
    "CUPS_ConfigPath   /etc/cups/\n\n"
    "# LOG Directory Path\n#LogDirectoryPath /var/log/ZORV/\n\n"
    "</Path>\n\n"
    "# Printer entries\n#  Mapping each \"Printer-Name\" to \"Printer Device Port\".\n"
    "# The \"Printer-Name\" has to be identical to the CUPS printer queue name.\n#\n"
    "#  For example, if you prepare a printer named \"ZPR4410\" as a CUPS printer\n"
    "#  queue name, and the printer is connected to the USB port \"/dev/usb/lp0\",\n"
    "#  you can use the following three lines example just by removing the\n"
    "#  comment symbol \"#\" of each line.\n"
    "#<Printer  ZPR4410>\n"
    "#DevicePath  /dev/usb/lp0\n"
    "#</Printer>\n\n"
    "<Ports>\n"
    "# Status Monitor API socket port\n#  Default PORT  59787\nUI_Port  59787\n</Ports>\n";

std::string configWith(const std::string& cupsConfigPath, const std::string& blocks) {
  std::string content = kDefaultConfig;
  const std::string defaultPath = "CUPS_ConfigPath   /etc/cups/";
  content.replace(content.find(defaultPath), defaultPath.size(), "CUPS_ConfigPath   " + cupsConfigPath);
  content.insert(content.find("<Ports>"), blocks);
  return content;
}

std::string listing(const std::string& cupsConfigPath, const std::string& logPath, int uiPort,
                    const std::vector<Row>& rows, const std::string& unlisted) {
  std::string out = "\n CUPS_ConfigPath = " + cupsConfigPath + "\n LOG Path        = " + logPath +
                    "\n UI Port         = " + std::to_string(uiPort) + "\n\n" +
                    " Entry Num  : Spooler\t: Backend\t: FIFO path\t\t: Device Path \t: Status \n" + " " +
                    std::string(76, '-') + "\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    out += "     [" + std::to_string(i) + "]    : " + row.spooler + " \t: " + row.backend + " \t\t: " + row.fifoPath +
           " \t: " + row.devicePath + " \t: " + row.status + "\n";
  }
  return out + unlisted + "\n";
}

namespace {

// Two warnings are dropped from standard error, and only these: an add of
// a device path that does not exist on the test machine, and the "-o x"
// that tests give for a listing without the usage text. Every other
// warning stays, so a test that compares standard error sees it; the tests
// that look at these two (AddWarnsAboutADevicePathThatIsNoDevice, the
// classic parser's warnings) run the binary without the fixture's filter.
bool droppedWarning(const std::string& line) {
  // "the device path X does not exist", maybe after a batch file's "FILE:LINE: ".
  const std::string absent = " does not exist\n";
  const bool deviceAbsent = line.rfind("zorvadmin: warning: ", 0) == 0 &&
                            line.find("the device path ") != std::string::npos && line.size() > absent.size() &&
                            line.compare(line.size() - absent.size(), absent.size(), absent) == 0;
  return deviceAbsent || line == "zorvadmin: warning: -o x is ignored: a device path goes only with -p\n";
}

RunResult withoutDeviceWarnings(RunResult result) {
  std::string kept;
  std::size_t at = 0;
  while (at < result.err.size()) {
    const std::size_t end = result.err.find('\n', at);
    const std::size_t next = end == std::string::npos ? result.err.size() : end + 1;
    const std::string line = result.err.substr(at, next - at);
    if (!droppedWarning(line)) kept += line;
    at = next;
  }
  result.err = kept;
  return result;
}

}  // namespace

std::map<std::string, std::string> CliTest::runEnv(const std::map<std::string, std::string>& env) const {
  std::map<std::string, std::string> fullEnv = CupsScheduler::shared().clientEnv();
  fullEnv["ZORV_CONF"] = conf();
  for (const auto& [name, value] : env) fullEnv[name] = value;
  return fullEnv;
}

RunResult CliTest::run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) const {
  return runWrapped({}, args, env);
}

RunResult CliTest::runWrapped(const std::vector<std::string>& wrapper, const std::vector<std::string>& args,
                              const std::map<std::string, std::string>& env) const {
  std::vector<std::string> command = wrapper;
  command.push_back(zorvadminPath());
  command.insert(command.end(), args.begin(), args.end());
  std::map<std::string, std::string> fullEnv = runEnv(env);
  // LeakSanitizer cannot work under ptrace and would fail every traced run.
  if (std::find(wrapper.begin(), wrapper.end(), "strace") != wrapper.end()) fullEnv.try_emplace("ASAN_OPTIONS", "detect_leaks=0");
  return withoutDeviceWarnings(runProgram(command, fullEnv));
}

const std::vector<std::string> kAsNobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
const std::vector<std::string> kWithoutDacOverride = {"setpriv", "--inh-caps=-dac_override,-dac_read_search",
                                                      "--bounding-set=-dac_override,-dac_read_search"};

std::vector<std::string> CliTest::filesLeft() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> CliTest::newFilesLeft(const std::vector<std::string>& expected) const {
  std::vector<std::string> left;
  for (const std::string& name : filesLeft()) {
    if (name.rfind("zorv.conf~", 0) == 0 && std::find(expected.begin(), expected.end(), name) == expected.end()) {
      left.push_back(name);
    }
  }
  return left;
}

void CliTest::expectFileError(const RunResult& result, const std::string& message,
                              const std::optional<std::string>& before) const {
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, message);
  EXPECT_EQ(newFilesLeft(), std::vector<std::string>{});
  if (before) {
    EXPECT_EQ(readConf(), *before);
  }
}

void CliTest::expectFiles(const std::string& config, const std::optional<std::string>& backup) const {
  EXPECT_EQ(readConf(), config);
  EXPECT_EQ(newFilesLeft(), std::vector<std::string>{});
  EXPECT_FALSE(fileExists(conf() + ".bak~"));
  if (backup) {
    EXPECT_EQ(readFile(conf() + ".bak"), *backup);
  } else {
    EXPECT_FALSE(fileExists(conf() + ".bak"));
  }
}

}  // namespace zorv::test
