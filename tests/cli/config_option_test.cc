// -f FILE and --config FILE name the configuration on the command line, in
// ZORV_CONF's place.
#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

class ConfigOptionTest : public CliTest {};

TEST_F(ConfigOptionTest, TheNamedFileIsTheOneAdministered) {
  const std::string withQ1 = configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/null\n</Printer>\n\n");
  const std::string other = file("other.conf");  // what ZORV_CONF names: never touched
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // empty: not compared
    std::string err;
    std::string configAfter;
  };
  const std::vector<Case> cases = {
      {{"-f", conf(), "--get", "Q1"}, 0, "/dev/null\n", "", withQ1},
      {{"--config=" + conf(), "--get", "q1"}, 0, "/dev/null\n", "", withQ1},
      {{"--config", conf(), "--check"}, 0, "", "", withQ1},
      {{"-f", conf(), "--quiet", "-x", "Q1"}, 0, "", "", configWith(cupsRoot())},
      {{"--quiet", "--config", conf(), "-x", "Q1"}, 0, "", "", configWith(cupsRoot())},
      {{"-f"}, 2, "", "zorvadmin: -f needs a file\n", withQ1},
      {{"--config"}, 2, "", "zorvadmin: --config needs a file\n", withQ1},
      {{"--help", "--config", conf()}, 2, "", "zorvadmin: --help cannot go with --config\n", withQ1},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    writeConf(withQ1);
    const RunResult result = run(row.args, {{"ZORV_CONF", other}});
    EXPECT_EQ(result.status, row.status) << result.err;
    if (!row.out.empty()) {
      EXPECT_EQ(result.out, row.out);
    }
    EXPECT_EQ(result.err.substr(0, row.err.size()), row.err);
    if (row.status == 0) {
      EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(readConf(), row.configAfter);
    EXPECT_FALSE(fileExists(other));
  }
}

}  // namespace
}  // namespace zorv::test
