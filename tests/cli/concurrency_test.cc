// Runs at the same moment never interleave: each holds the lock file beside
// the configuration from its read pass to its rotation.
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include "cli/cli_fixture.h"

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
  for (const RunResult& result : results) {
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
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

TEST_F(ConcurrencyTest, GivesUpAfterTenSecondsWhenTheLockIsHeld) {
  const std::string before = configWith(cupsRoot());
  writeConf(before);
  const int held = ::open((conf() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const auto start = std::chrono::steady_clock::now();
  const RunResult result = run({"-p", "Q1", "-o", "/dev/usb/lp1"});
  const auto waited = std::chrono::steady_clock::now() - start;
  ::close(held);
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "zorvadmin: cannot lock " + conf() + ".lock: another run still holds it after 10 seconds\n");
  EXPECT_GE(waited, std::chrono::seconds(10));
  expectUntouched(before);
}

}  // namespace
}  // namespace zorv::test
