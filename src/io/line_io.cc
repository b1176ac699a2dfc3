#include "io/line_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zorv {
namespace {

// Fuzzing builds test the bytes, not the disk: they leave out the flushes.
#ifdef ZORV_FUZZING
constexpr bool kFlushWrites = false;
#else
constexpr bool kFlushWrites = true;
#endif

bool isTerminator(char c) { return c == '\r' || c == '\n'; }

Line completeLine(const LineBuffer& buffer) {
  const bool crlf = buffer.terminatorLength == 2 && buffer.terminatorStart == '\r' && buffer.terminatorEnd == '\n';
  return Line{buffer.text.data(), buffer.textLength, buffer.terminatorLength,
              buffer.fullTextLength + buffer.terminatorLength, buffer.fullTextLength > buffer.textLength,
              crlf ? 1 : buffer.terminatorLength, {buffer.terminatorStart, buffer.terminatorEnd}};
}

}  // namespace

long readChunk(int fd, char* chunk) {
  for (;;) {
    const long got = ::read(fd, chunk, kReadChunkSize);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    return -1;
  }
}

void LineBuffer::clear() {
  // Only the bytes used: the rest are still zero, and a file of many short
  // lines would otherwise clear a kilobyte for each.
  std::fill_n(text.begin(), textLength, '\0');
  textLength = 0;
  fullTextLength = 0;
  terminatorLength = 0;
  terminatorStart = 0;
  terminatorEnd = 0;
}

void LineBuffer::append(const char* bytes, int count) {
  const int room = kMaxLineText - textLength;
  const int kept = std::clamp(count, 0, room);
  std::memcpy(text.data() + textLength, bytes, static_cast<std::size_t>(kept));
  textLength += kept;
  fullTextLength += count;
}

namespace {

// Appends the text from position up to the first CR or LF below validBytes
// to line and returns the bytes taken, terminator included (a CR or LF right
// after the terminator belongs to it). Returns -1 when no terminator lies
// between position and validBytes, or position is not below validBytes.
int nextLine(LineBuffer& line, const char* chunk, int position, int validBytes) {
  if (position < 0 || position >= validBytes) return -1;
  // The first LF, then a CR before it: library searches, not a byte loop,
  // as a long file is mostly short lines.
  const char* start = chunk + position;
  const auto length = static_cast<std::size_t>(validBytes - position);
  const auto* lf = static_cast<const char*>(std::memchr(start, '\n', length));
  const std::size_t beforeLf = lf != nullptr ? static_cast<std::size_t>(lf - start) : length;
  const auto* cr = static_cast<const char*>(std::memchr(start, '\r', beforeLf));
  const int end = position + static_cast<int>(cr != nullptr ? static_cast<std::size_t>(cr - start) : beforeLf);
  if (end == validBytes) return -1;
  line.append(chunk + position, end - position);
  line.terminatorLength = (end + 1 < validBytes && isTerminator(chunk[end + 1])) ? 2 : 1;
  line.terminatorStart = chunk[end];
  line.terminatorEnd = chunk[end + line.terminatorLength - 1];
  return end - position + line.terminatorLength;
}

}  // namespace

ReadResult readLines(int fd, const LineHandler& handler) {
  std::array<char, kReadChunkSize + 1> chunk{};
  LineBuffer line;
  // A line whose one-byte terminator ended a chunk waits for the next chunk:
  // a CR or LF there belongs to its terminator, as it would within a chunk.
  bool pending = false;
  for (;;) {
    const long got = readChunk(fd, chunk.data());
    if (got < 0) return ReadResult::ReadFailed;
    const int validBytes = static_cast<int>(got);
    int position = 0;
    if (pending && validBytes > 0) {
      if (isTerminator(chunk[0])) {
        line.terminatorLength = 2;
        line.terminatorEnd = chunk[0];
        position = 1;
      }
      pending = false;
      if (handler(completeLine(line)) != 0) return ReadResult::Stopped;
      line.clear();
    }
    if (validBytes == 0) break;
    while (position < validBytes) {
      const int taken = nextLine(line, chunk.data(), position, validBytes);
      if (taken < 0) {
        line.append(chunk.data() + position, validBytes - position);
        break;
      }
      position += taken;
      if (position == validBytes && line.terminatorLength == 1) {
        pending = true;
        break;
      }
      if (handler(completeLine(line)) != 0) return ReadResult::Stopped;
      line.clear();
    }
  }
  if (pending || line.fullTextLength > 0) {
    if (handler(completeLine(line)) != 0) return ReadResult::Stopped;
  }
  return ReadResult::EndOfFile;
}

const char* skipSeparators(const char* text, int count) {
  for (int i = 0; i < count; ++i) {
    if (text[i] != ' ' && text[i] != '\t' && text[i] != ':') return text + i;
  }
  return text;
}

std::string_view keywordValue(const Line& line, std::string_view keyword) {
  const char* rest = line.text + keyword.size();
  const int count = line.textLength - static_cast<int>(keyword.size());
  const char* start = skipSeparators(rest, count);
  // Nothing but separators: skipSeparators hands back the text itself, yet
  // the value is empty.
  if (start == rest && count > 0 && (*rest == ' ' || *rest == '\t' || *rest == ':')) return {rest + count, 0};
  return {start, static_cast<std::size_t>(line.text + line.textLength - start)};
}

int flushFile(int fd) { return kFlushWrites ? ::fsync(fd) : 0; }

int writeDurably(int fd, const char* buffer, long length) {
  long written = 0;
  while (written < length) {
    const long result = ::write(fd, buffer + written, static_cast<std::size_t>(length - written));
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) {
      if (result == 0) errno = EIO;  // no progress: never spin on it
      return -1;
    }
    written += result;
  }
  return 0;
}

void appendLine(std::string& out, const Line& line) {
  out.append(line.text, static_cast<std::size_t>(line.textLength));
  out.append(static_cast<std::size_t>(line.terminatorLength), '\n');
}

}  // namespace zorv
