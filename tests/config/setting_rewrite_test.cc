// --set's rewrite in process: line ends of every kind, also split by the
// read's chunk boundary, come out as they went in; a sink that fails ends
// the rewrite at once.
#include "config/setting_rewrite.h"

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.h"

namespace zorv {
namespace {

const std::string kPorts = "<Ports>\nUI_Port 59787\n</Ports>\n";

// The rewrite's bytes and result; the sink fails at call failAt (from 1).
struct Rewritten {
  PassResult result;
  std::string bytes;
  int calls = 0;
};

Rewritten rewritten(const std::string& content, std::string_view key, std::string_view value, int failAt = 0) {
  test::TempDir dir;
  test::writeFile(dir.file("zorv.conf"), content);
  RewriteRequest request;
  request.mode = RewriteMode::SetValue;
  request.setting = key;
  request.value = value;
  Rewritten out;
  const ConfigRead read = rewriteSetting(configFilesFor(dir.file("zorv.conf")), request, [&](std::string_view bytes) {
    if (++out.calls == failAt) return -1;
    out.bytes += bytes;
    return 0;
  });
  out.result = read.result;
  return out;
}

TEST(SettingRewrite, LineEndsStayAsTheyWereAcrossChunks) {
  // A CR LF, an LF CR and a CR CR each split by the 4096-byte boundary.
  for (const std::string end : {"\r\n", "\n\r", "\r\r"}) {
    SCOPED_TRACE(testing::PrintToString(end));
    const std::string head = "<Path>\r\nCUPS_ConfigPath /etc/cups/\n\n</Path>\r";
    std::string filler;
    for (int i = 0; i < 4; ++i) filler += "# " + std::string(1000, 'x') + "\n";
    filler += "# " + std::string(4095 - head.size() - filler.size() - 2, 'x');
    const std::string content = head + filler + end + "loose\n\r" + kPorts + "tail\r\n";
    ASSERT_EQ(content[4095], end[0]);
    const Rewritten out = rewritten(content, "UI_Port", "631");
    ASSERT_EQ(out.result, PassResult::Ok);
    std::string expected = content;
    expected.replace(expected.find("UI_Port 59787"), 13, "UI_Port 631");
    EXPECT_TRUE(out.bytes == expected) << testing::PrintToString(out.bytes.substr(4000));
  }
}

TEST(SettingRewrite, AFailingSinkEndsTheRewrite) {
  const std::string lines = "<Path>\nCUPS_ConfigPath /etc/cups/\n</Path>\n" + kPorts;  // 6 writes
  const std::string noPorts = "<Path>\n</Path>\n";  // 2 lines, then the new section
  for (int failAt = 1; failAt <= 6; ++failAt) {
    const Rewritten out = rewritten(lines, "UI_Port", "631", failAt);
    EXPECT_EQ(out.result, PassResult::FileError) << failAt;
    EXPECT_EQ(out.calls, failAt);
  }
  EXPECT_EQ(rewritten(noPorts, "UI_Port", "631", 3).result, PassResult::FileError);
  EXPECT_EQ(rewritten(noPorts, "UI_Port", "631").bytes, noPorts + "\n<Ports>\nUI_Port 631\n</Ports>\n");
}

TEST(SettingRewrite, AmbiguityScanStopsPastItsBound) {
  test::TempDir dir;
  const std::string content = "<Ports>\nUI_Port 1\nUI_Port 2\n</Ports>\n";  // 37 bytes
  test::writeFile(dir.file("zorv.conf"), content);
  std::vector<SettingFinding> findings;
  EXPECT_EQ(findAmbiguousSettings(configFilesFor(dir.file("zorv.conf")), 37, findings), 0);
  EXPECT_EQ(findings.size(), 1u);
  errno = 0;
  EXPECT_EQ(findAmbiguousSettings(configFilesFor(dir.file("zorv.conf")), 36, findings), -1);
  EXPECT_EQ(errno, EFBIG);
}

}  // namespace
}  // namespace zorv
