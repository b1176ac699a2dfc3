// Runs the real binary against a configuration file in a private directory
// and the test program's private CUPS scheduler.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/scheduler.h"

namespace zorv::test {

// What a run without arguments prints before the listing.
extern const std::string kUsage;
// What a refused command line prints on standard error after its reason.
extern const std::string kRefusedUsage;

// The file the tool creates when there is none: 766 bytes.
extern const std::string kDefaultConfig;

// The default file with CUPS_ConfigPath set to path and blocks inserted
// before "<Ports>".
std::string configWith(const std::string& cupsConfigPath, const std::string& blocks = "");

struct Row {
  std::string spooler, backend, fifoPath, devicePath, status;
};

// The listing as the tool prints it.
std::string listing(const std::string& cupsConfigPath, const std::string& logPath, int uiPort,
                    const std::vector<Row>& rows, const std::string& unlisted = "");

constexpr const char* kNoFifo = "               ";

// Command prefixes for runWrapped: the run as nobody, and as root without
// the capabilities that bypass permission checks.
extern const std::vector<std::string> kAsNobody;
extern const std::vector<std::string> kWithoutDacOverride;

class CliTest : public ::testing::Test {
 protected:
  std::string conf() const { return dir_.file("zorv.conf"); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  std::string cupsRoot() const { return CupsScheduler::shared().serverRoot() + "/"; }

  // The test scheduler's client environment and ZORV_CONF, then env.
  std::map<std::string, std::string> runEnv(const std::map<std::string, std::string>& env) const;
  RunResult run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) const;
  // Runs with a command in front of the binary (setpriv, strace ...).
  RunResult runWrapped(const std::vector<std::string>& wrapper, const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env = {}) const;

  void writeConf(const std::string& content) const { writeFile(conf(), content); }
  std::string readConf() const { return readFile(conf()); }

  // Every name in the test's directory, sorted, so a file left behind shows.
  std::vector<std::string> filesLeft() const;

  // Files in the test's directory that begin with the configuration's name
  // and "~" (new files of a run), but for those listed as expected.
  std::vector<std::string> newFilesLeft(const std::vector<std::string>& expected = {}) const;

  // The configuration is config, its backup backup (none when not given),
  // and no new file or backup in waiting is left.
  void expectFiles(const std::string& config, const std::optional<std::string>& backup = std::nullopt) const;

  // A run that failed on a file: status 3, no listing, exactly message on
  // standard error, no new file left, and the configuration as before
  // (when there was one to compare).
  void expectFileError(const RunResult& result, const std::string& message,
                       const std::optional<std::string>& before = std::nullopt) const;

  TempDir dir_;
};

}  // namespace zorv::test
