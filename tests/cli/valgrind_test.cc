// memcheck over a list, an add and a remove: no error and no leak.
#include <unistd.h>

#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

class ValgrindTest : public CliTest {};

TEST_F(ValgrindTest, ListAddRemoveAreClean) {
#ifdef ZORV_SANITIZED
  GTEST_SKIP() << "the binary is built with sanitizers";
#endif
  writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"));
  const std::vector<std::string> memcheck = {"valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                                             "--errors-for-leak-kinds=definite,indirect"};
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"-p", "Q1", "-o", "/dev/usb/lp1"}, {"-x", "Q2"}}) {
    const RunResult result = runWrapped(memcheck, args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
  }
  EXPECT_EQ(readConf(), configWith(cupsRoot(), "<Printer Q1>\nDevicePath /dev/usb/lp1\n</Printer>\n\n"));
}

}  // namespace
}  // namespace zorv::test
