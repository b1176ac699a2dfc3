// Files no one should have but someone will: huge, with thousands of
// blocks, with a megabyte line, or binary garbage. Each run ends with its
// normal status, and memory stays flat as the file grows.
#include <random>

#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

constexpr long kFiftyMegabytes = 50L * 1024 * 1024;
// Fixed buffers: a much larger file may cost only noise in peak memory.
constexpr long kFlatKilobytes = 2048;

struct MeasuredRun {
  RunResult result;
  long peakKilobytes;
};

class HostileFilesTest : public CliTest {
 protected:
  // GNU time is a small parent of its own: the peak it reports is the
  // binary's alone, not what a fork of this test program carried in.
  MeasuredRun measuredRun(const std::vector<std::string>& args) {
    const std::string report = file("peak");
    MeasuredRun measured{runWrapped({"/usr/bin/time", "-f", "%M", "-o", report}, args), 0};
    measured.peakKilobytes = std::stol(readFile(report));
    return measured;
  }
  long baselineKilobytes() {
    writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"));
    const MeasuredRun small = measuredRun({"-o", "x"});
    EXPECT_EQ(small.result.status, 0);
    return small.peakKilobytes;
  }
  void expectFlat(const MeasuredRun& run, long baseline, const char* what) {
    std::printf("peak memory, %s: %ld kB (small file: %ld kB)\n", what, run.peakKilobytes, baseline);
    EXPECT_LT(run.peakKilobytes - baseline, kFlatKilobytes) << what;
  }
};

std::string repeatedUntil(const std::string& unit, long size) {
  std::string text;
  text.reserve(static_cast<std::size_t>(size) + unit.size());
  while (static_cast<long>(text.size()) < size) text += unit;
  return text;
}

TEST_F(HostileFilesTest, FiftyMegabyteConfiguration) {
  const long baseline = baselineKilobytes();
  writeConf(configWith(cupsRoot(), repeatedUntil("# a comment line that is repeated a great many times\n", kFiftyMegabytes)));
  const MeasuredRun measured = measuredRun({"-o", "x"});
  const RunResult& result = measured.result;
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, listing(cupsRoot(), "None", 59787, {}));
  expectFlat(measured, baseline, "50 MB configuration");
}

TEST_F(HostileFilesTest, TenThousandPrinterBlocks) {
  const long baseline = baselineKilobytes();
  std::string blocks;
  for (int i = 0; i < 10000; ++i) blocks += "<Printer Q2>\nDevicePath /dev/usb/lp" + std::to_string(i) + "\n</Printer>\n";
  writeConf(configWith(cupsRoot(), blocks));
  const MeasuredRun measured = measuredRun({"-o", "x"});
  const RunResult& result = measured.result;
  EXPECT_EQ(result.status, 0);
  std::vector<Row> rows;
  for (int i = 0; i < 16; ++i) rows.push_back({"Q2", "parallel", "/dev/lp0", "/dev/usb/lp" + std::to_string(i), ""});
  EXPECT_EQ(result.out, listing(cupsRoot(), "None", 59787, rows, " Entries not listed: 9984 (the table holds 16)\n"));
  expectFlat(measured, baseline, "10,000 printer blocks");
}

TEST_F(HostileFilesTest, OneMegabyteLine) {
  const long baseline = baselineKilobytes();
  const std::string before = configWith(cupsRoot()) + "<Path>\nLogDirectoryPath " + std::string(1 << 20, 'l') + "\n</Path>\n";
  writeConf(before);
  const MeasuredRun measured = measuredRun({"-o", "x"});
  EXPECT_EQ(measured.result.status, 0);
  EXPECT_EQ(measured.result.out, listing(cupsRoot(), std::string(255, 'l'), 59787, {}));
  expectFlat(measured, baseline, "1 MB line");
  // Rewriting would cut the line: refused, the file stays whole.
  EXPECT_EQ(run({"-x", "Q2"}).status, 2);
  expectFiles(before);
}

TEST_F(HostileFilesTest, BinaryGarbage) {
  std::mt19937 random(20261207);
  std::string garbage(1 << 20, '\0');
  for (char& byte : garbage) byte = static_cast<char>(random());
  writeConf(garbage);
  EXPECT_EQ(run({"-o", "x"}).status, 0);
  // Short lines only, so a rewrite would be possible; the garbage holds no
  // Q2 block, so none is made.
  std::string shortLines;
  for (std::size_t i = 0; i < 20000; ++i) shortLines += (i % 61 == 0) ? '\n' : garbage[i];
  writeConf(shortLines);
  const RunResult remove = run({"-x", "Q2"});
  EXPECT_EQ(remove.status, 0);
  EXPECT_EQ(remove.err, "zorvadmin: Q2 has no entry in " + conf() + "; nothing changed\n");
  expectFiles(shortLines);
}

TEST_F(HostileFilesTest, FiftyMegabytePrintersConf) {
  const long baseline = baselineKilobytes();
  TempDir cups;
  writeFile(cups.file("printers.conf"),
            repeatedUntil("<Printer Other>\nDeviceURI usb://Other/Printer\nInfo other\n</Printer>\n", kFiftyMegabytes) +
                "<Printer Q2>\nDeviceURI parallel:/dev/lp7\n</Printer>\n");
  writeConf(configWith(cups.path() + "/", "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"));
  const MeasuredRun measured = measuredRun({"-o", "x"});
  const RunResult& result = measured.result;
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, listing(cups.path() + "/", "None", 59787, {{"Q2", "parallel", "/dev/lp7", "/dev/usb/lp2", ""}}));
  expectFlat(measured, baseline, "50 MB printers.conf");
}

}  // namespace
}  // namespace zorv::test
