#include "io/line_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.h"

namespace zorv {
namespace {

struct SeenLine {
  std::string text;
  long length;
  bool operator==(const SeenLine&) const = default;
};

void PrintTo(const SeenLine& line, std::ostream* out) { *out << '"' << line.text << "\" (" << line.length << ")"; }

std::vector<SeenLine> linesOf(const std::string& content) {
  test::TempDir dir;
  test::writeFile(dir.file("in"), content);
  const int fd = ::open(dir.file("in").c_str(), O_RDONLY);
  std::vector<SeenLine> lines;
  EXPECT_EQ(readLines(fd, [&](const Line& line) {
              lines.push_back({std::string(line.view()), line.lineLength});
              return 0;
            }),
            ReadResult::EndOfFile);
  ::close(fd);
  return lines;
}

// Reads content and writes every line back the way a rewrite copies it.
std::string copiedThrough(const std::string& content) {
  test::TempDir dir;
  test::writeFile(dir.file("in"), content);
  const int in = ::open(dir.file("in").c_str(), O_RDONLY);
  std::string out;
  readLines(in, [&](const Line& line) {
    appendLine(out, line);
    return 0;
  });
  ::close(in);
  return out;
}

TEST(LineSplitting, TerminatorsTakeOneOrTwoBytes) {
  EXPECT_EQ(linesOf("A\nB\n"), (std::vector<SeenLine>{{"A", 2}, {"B", 2}}));
  EXPECT_EQ(linesOf("A\n\nB\n"), (std::vector<SeenLine>{{"A", 3}, {"B", 2}}));
  EXPECT_EQ(linesOf("A\r\n"), (std::vector<SeenLine>{{"A", 3}}));
  EXPECT_EQ(linesOf("A\n\r"), (std::vector<SeenLine>{{"A", 3}}));
  EXPECT_EQ(linesOf("A\r\rB\r"), (std::vector<SeenLine>{{"A", 3}, {"B", 2}}));
  EXPECT_EQ(linesOf("A\n\n\nB\n"), (std::vector<SeenLine>{{"A", 3}, {"", 1}, {"B", 2}}));
}

TEST(LineSplitting, UnterminatedLastLineIsHandledAndKeptUnterminated) {
  EXPECT_EQ(linesOf("A\nB"), (std::vector<SeenLine>{{"A", 2}, {"B", 1}}));
  EXPECT_EQ(copiedThrough("A\nlast line"), "A\nlast line");
  EXPECT_EQ(linesOf(""), std::vector<SeenLine>{});
}

TEST(LineSplitting, WrittenBackTerminatorsBecomeNewlines) {
  EXPECT_EQ(copiedThrough("A\n\nB\n"), "A\n\nB\n");
  EXPECT_EQ(copiedThrough("A\r\nB\r\n"), "A\n\nB\n\n");
  EXPECT_EQ(copiedThrough("A\n\n\nB\n"), "A\n\n\nB\n");
  EXPECT_EQ(copiedThrough(std::string("nul\0byte\n", 9)), std::string("nul\0byte\n", 9));
}

TEST(LineSplitting, LineCrossingTheChunkBoundaryArrivesWholeOnce) {
  const std::string first(4090, 'a');
  const std::string crossing = "CUPS_ConfigPath /across/the/boundary/";
  const auto lines = linesOf(first + "\n" + crossing + "\nend\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], (SeenLine{crossing, static_cast<long>(crossing.size()) + 1}));
  EXPECT_EQ(lines[2].text, "end");
}

TEST(LineSplitting, TwoByteTerminatorSplitByTheChunkBoundaryStaysOneTerminator) {
  // 1000-byte lines, then a line whose terminator's first byte is the
  // chunk's last and whose second byte starts the next chunk.
  constexpr int kWholeLines = kReadChunkSize / 1000;
  std::string prefix;
  std::vector<SeenLine> prefixLines;
  for (int i = 0; i < kWholeLines; ++i) {
    prefix += std::string(999, 'x') + "\n";
    prefixLines.push_back({std::string(999, 'x'), 1000});
  }
  const std::string text(kReadChunkSize - kWholeLines * 1000 - 1, 'y');
  const long textLength = static_cast<long>(text.size());
  auto with = [&](std::vector<SeenLine> tail) {
    std::vector<SeenLine> all = prefixLines;
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
  };
  EXPECT_EQ(linesOf(prefix + text + "\r\nB\n"), with({{text, textLength + 2}, {"B", 2}}));
  EXPECT_EQ(linesOf(prefix + text + "\n\nB\n"), with({{text, textLength + 2}, {"B", 2}}));
  EXPECT_EQ(linesOf(prefix + text + "\nB\n"), with({{text, textLength + 1}, {"B", 2}}));
  EXPECT_EQ(linesOf(prefix + text + "\n"), with({{text, textLength + 1}}));
  EXPECT_EQ(copiedThrough(prefix + text + "\r\n\n"), prefix + text + "\n\n\n");
}

TEST(LineSplitting, LongLineIsCutTo1024CharactersButCountsWhole) {
  test::TempDir dir;
  test::writeFile(dir.file("in"), std::string(3000, 'L') + "\nnext\n");
  const int fd = ::open(dir.file("in").c_str(), O_RDONLY);
  std::vector<Line> lines;
  std::vector<std::string> texts;
  readLines(fd, [&](const Line& line) {
    lines.push_back(line);
    texts.emplace_back(line.view());
    return 0;
  });
  ::close(fd);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(texts[0], std::string(1024, 'L'));
  EXPECT_EQ(lines[0].lineLength, 3001);
  EXPECT_TRUE(lines[0].truncated);
  EXPECT_FALSE(lines[1].truncated);
  EXPECT_EQ(texts[1], "next");
}

TEST(LineSplitting, HandlerCanStopTheRead) {
  test::TempDir dir;
  test::writeFile(dir.file("in"), "A\nB\nC\n");
  const int fd = ::open(dir.file("in").c_str(), O_RDONLY);
  int seen = 0;
  EXPECT_EQ(readLines(fd, [&](const Line&) { return ++seen == 2 ? -1 : 0; }), ReadResult::Stopped);
  ::close(fd);
  EXPECT_EQ(seen, 2);
}

TEST(LineSplitting, ReadErrorIsReported) {
  test::TempDir dir;
  const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(readLines(fd, [](const Line&) { return 0; }), ReadResult::ReadFailed);
  EXPECT_EQ(errno, EISDIR);
  ::close(fd);
}

// Lines against the chunk edges: none of a chunk's bytes is a terminator,
// the file ends on the edge, an empty line begins a chunk.
TEST(LineSplitting, ChunkEdges) {
  const std::string a1024(1024, 'a');
  constexpr long kChunk = kReadChunkSize;
  const struct {
    std::string content;
    std::vector<SeenLine> lines;
  } cases[] = {
      {std::string(kChunk, 'a') + "\nB\n", {{a1024, kChunk + 1}, {"B", 2}}},
      {std::string(kChunk, 'a'), {{a1024, kChunk}}},
      {std::string(kChunk - 1, 'a') + "\n\n\nB\n", {{a1024, kChunk + 1}, {"", 1}, {"B", 2}}},
      {std::string(kChunk - 2, 'a') + "\n\n", {{a1024, kChunk}}},
  };
  for (const auto& c : cases) EXPECT_EQ(linesOf(c.content), c.lines) << c.content.size() << " bytes";
}

TEST(SkipSeparators, SkipsSpacesTabsAndColons) {
  const char* text = "  :\tvalue ";
  EXPECT_STREQ(skipSeparators(text, 10), "value ");
  EXPECT_EQ(skipSeparators(text, 3), text);  // nothing but separators
  EXPECT_EQ(skipSeparators(text, 0), text);
  EXPECT_EQ(skipSeparators(text, -4), text);
}

TEST(WriteDurably, ReportsAFailedWriteInsteadOfLooping) {
  test::TempDir dir;
  const int fd = ::open(dir.file("ro").c_str(), O_RDONLY | O_CREAT, 0644);
  EXPECT_EQ(writeDurably(fd, "abc", 3), -1);
  ::close(fd);
  const int full = ::open("/dev/full", O_WRONLY);
  if (full >= 0) {
    EXPECT_EQ(writeDurably(full, "abc", 3), -1);
    ::close(full);
  }
}

}  // namespace
}  // namespace zorv
