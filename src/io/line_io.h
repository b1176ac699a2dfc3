// Line reading and durable writing shared by every file pass: files are
// read in 64 KiB chunks (a file of thousands of entries in a few reads)
// with fixed buffers and cut into lines at CR or LF; what is written is
// synced once, when the file is whole (NewFile).
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

namespace zorv {

constexpr int kReadChunkSize = 65536;
constexpr int kMaxLineText = 1024;

// One line being assembled, at most 1024 characters of text; the bytes of a
// longer line beyond those are dropped but still counted.
struct LineBuffer {
  std::array<char, kMaxLineText + 1> text{};
  int textLength = 0;        // bytes held in text
  long fullTextLength = 0;   // bytes of text the line has in the file
  int terminatorLength = 0;  // 0 (end of file), 1 or 2
  char terminatorStart = 0;  // the terminator's first and last bytes
  char terminatorEnd = 0;

  void clear();
  void append(const char* bytes, int count);
};

// A complete line as handed to a line handler.
struct Line {
  const char* text;
  int textLength;
  int terminatorLength;
  long lineLength;  // bytes the line takes in the file, terminator included
  bool truncated;   // the text held is shorter than the line's text
  int lineBreaks;   // lines an editor counts for the terminator: CR LF is one
  std::array<char, 2> terminatorBytes;  // the first terminatorLength of them, as in the file

  std::string_view terminator() const { return {terminatorBytes.data(), static_cast<std::size_t>(terminatorLength)}; }
  std::string_view view() const { return {text, static_cast<std::size_t>(textLength)}; }
  bool startsWith(std::string_view prefix) const { return view().substr(0, prefix.size()) == prefix; }
};

// One read of up to kReadChunkSize bytes into chunk, repeating EINTR; -1 with errno
// set on failure (EAGAIN too: a file that cannot answer now is not waited
// for), 0 at end of file.
long readChunk(int fd, char* chunk);

enum class ReadResult { EndOfFile, ReadFailed, Stopped };

// Return 0 to go on, anything else to stop reading.
using LineHandler = std::function<int(const Line&)>;

// Reads fd to its end and hands each line to handler, a last line without a
// terminator included. EINTR is retried. On ReadFailed errno tells why.
ReadResult readLines(int fd, const LineHandler& handler);

// The first of the first count characters of text that is not a space, tab
// or colon; text itself when there is none or count is 0 or less.
const char* skipSeparators(const char* text, int count);

// The value of a keyword line: the text after the keyword with leading
// separators skipped; trailing characters stay part of it. A value of
// nothing but separators is empty.
std::string_view keywordValue(const Line& line, std::string_view keyword);

// fsync of fd (left out in fuzzing builds, which test bytes, not disks).
int flushFile(int fd);

// Writes all length bytes of a new file, without a sync of its own: the
// file's owner syncs it once, when it is whole, and nothing system-wide.
// Returns -1 (errno set) at the first failure, without retrying anything
// but EINTR.
int writeDurably(int fd, const char* buffer, long length);

// Appends the line's text and its terminator as that many newlines.
void appendLine(std::string& out, const Line& line);

}  // namespace zorv
