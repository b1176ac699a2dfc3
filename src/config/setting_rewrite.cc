#include "config/setting_rewrite.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>

#include "config/config_format.h"
#include "io/file_descriptor.h"
#include "io/line_io.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

enum class Section { None, Path, Printer, Ports };

// The section a setting belongs to, and its closing tag.
struct SettingHome {
  Section section;
  std::string_view open;
  std::string_view close;
};

// UI_Port lives in <Ports>, the paths in <Path>.
SettingHome homeOf(std::string_view key) {
  if (key == keyword::kUiPort) return {Section::Ports, tag::kPortsOpen, tag::kPortsClose};
  return {Section::Path, tag::kPathOpen, tag::kPathClose};
}

// Follows the tags as the configuration pass does; true for a tag line.
bool followTag(const Line& line, Section& section) {
  if (line.startsWith(tag::kPathOpen)) {
    section = Section::Path;
  } else if (line.startsWith(tag::kPrinterOpen)) {
    section = Section::Printer;
  } else if (line.startsWith(tag::kPortsOpen)) {
    section = Section::Ports;
  } else if (line.startsWith(tag::kPathClose) || line.startsWith(tag::kPrinterClose) ||
             line.startsWith(tag::kPortsClose)) {
    section = Section::None;
  } else {
    return false;
  }
  return true;
}

bool isComment(const Line& line) { return line.textLength > 0 && line.text[0] == '#'; }

// The listing reads every line of the key's section that begins with the
// key as the setting; only the key and a separator (or nothing) set it.
enum class Match { None, Exact, Prefixed };

Match matchOf(const Line& line, std::string_view key) {
  if (!line.startsWith(key)) return Match::None;
  if (line.view().size() == key.size()) return Match::Exact;
  const char next = line.view()[key.size()];
  return next == ' ' || next == '\t' || next == ':' ? Match::Exact : Match::Prefixed;
}

// Where the file sets one key: line numbers as an editor counts them.
struct KeyLines {
  std::string_view key;
  int first = 0;    // the first line that sets it
  int second = 0;   // the next one
  int further = 0;  // how many more
  int prefixed = 0;  // the first line that begins with it and goes on

  void note(Match match, int line) {
    if (match == Match::Prefixed && prefixed == 0) prefixed = line;
    if (match != Match::Exact) return;
    if (first == 0) {
      first = line;
    } else if (second == 0) {
      second = line;
    } else {
      ++further;
    }
  }

  std::string duplicated() const {
    std::string text = std::string(key) + " is set more than once (also line " + std::to_string(second);
    if (further > 0) text += " and " + std::to_string(further) + " more";
    return text + ")";
  }
  std::string prefixedText() const {
    return "this line is read as " + std::string(key) + ", as it begins with that name";
  }
};

// Line numbers and sections through one read of the file.
class FileWalk {
 public:
  // The line's number; tagLine tells whether it is a tag, whose section
  // inside() then tells of.
  int step(const Line& line, bool& tagLine) {
    const int number = next_;
    next_ += line.lineBreaks > 0 ? line.lineBreaks : 1;
    tagLine = !isComment(line) && followTag(line, section_);
    return number;
  }
  bool inside(Section section, const Line& line) const { return section_ == section && !isComment(line); }

 private:
  int next_ = 1;
  Section section_ = Section::None;
};

// maxBytes, when not 0, bounds a file that never ends: past it the read
// fails with EFBIG.
std::array<KeyLines, 3> scanKeys(int fd, ReadResult& result, int& truncatedLine, std::uint64_t maxBytes = 0) {
  std::array<KeyLines, 3> keys{};
  keys[0].key = keyword::kCupsConfigPath;
  keys[1].key = keyword::kLogDirectoryPath;
  keys[2].key = keyword::kUiPort;
  FileWalk walk;
  truncatedLine = 0;
  std::uint64_t bytes = 0;
  result = readLines(fd, [&](const Line& line) {
    bytes += static_cast<std::uint64_t>(line.lineLength);
    if (maxBytes != 0 && bytes > maxBytes) return 1;
    bool tagLine = false;
    const int number = walk.step(line, tagLine);
    if (line.truncated && truncatedLine == 0) truncatedLine = number;
    if (tagLine) return 0;
    for (KeyLines& key : keys) {
      if (walk.inside(homeOf(key.key).section, line)) key.note(matchOf(line, key.key), number);
    }
    return 0;
  });
  if (result == ReadResult::Stopped) {
    result = ReadResult::ReadFailed;
    errno = EFBIG;
  }
  return keys;
}

const KeyLines& linesOf(const std::array<KeyLines, 3>& keys, std::string_view key) {
  for (const KeyLines& lines : keys) {
    if (lines.key == key) return lines;
  }
  return keys[2];
}

// Refuses, with the reason, what --set must not guess at or would cut.
PassResult refusal(const ConfigFiles& files, const KeyLines& lines, int truncatedLine) {
  const char* path = files.config.c_str();
  if (lines.prefixed > 0) {
    reportProblem("%s:%d: %s; nothing changed", path, lines.prefixed, lines.prefixedText().c_str());
  } else if (lines.second > 0) {
    reportProblem("%s:%d: %s; nothing changed", path, lines.first, lines.duplicated().c_str());
  } else if (truncatedLine > 0) {
    reportProblem("cannot rewrite %s: it has a line longer than %d characters", path, kMaxLineText);
  } else {
    return PassResult::Ok;
  }
  return PassResult::Refused;
}

// The copy: the key's line replaced (its line end kept), or the line added
// before the first closing tag of its section when the file has none.
PassResult copyWithSetting(const ConfigFiles& files, int fd, const RewriteRequest& request, bool present,
                           const ByteSink& output) {
  const SettingHome home = homeOf(request.setting);
  const std::string setting = std::string(request.setting) + " " + std::string(request.value);
  bool written = present;
  bool failed = false;
  FileWalk walk;
  std::string bytes;
  const ReadResult read = readLines(fd, [&](const Line& line) {
    const bool closesHome = walk.inside(home.section, line) && line.startsWith(home.close);
    bool tagLine = false;
    walk.step(line, tagLine);
    bytes.clear();
    if (closesHome && !written) bytes = setting + "\n";
    written = written || closesHome;
    const bool replaced = !tagLine && walk.inside(home.section, line) && matchOf(line, request.setting) == Match::Exact;
    bytes += replaced ? setting : std::string(line.view());
    bytes += line.terminator();
    failed = output(bytes) != 0;
    return failed ? 1 : 0;
  });
  if (failed) return PassResult::FileError;  // the sink has said why
  if (read == ReadResult::ReadFailed) {
    reportFileError("read", files.config);
    return PassResult::FileError;
  }
  if (written) return PassResult::Ok;
  const std::string section = "\n" + std::string(home.open) + "\n" + setting + "\n" + std::string(home.close) + "\n";
  return output(section) == 0 ? PassResult::Ok : PassResult::FileError;
}

}  // namespace

ConfigRead rewriteSetting(const ConfigFiles& files, const RewriteRequest& request, const ByteSink& output) {
  ConfigRead rewrite;
  rewrite.result = PassResult::FileError;
  FileDescriptor input =
      request.inputFd >= 0 ? reopenFromStart(files, request.inputFd) : openForReading(files.config);
  if (!input.valid()) {
    if (request.inputFd < 0) reportFileError(errno == kNotRegularFile ? "read" : "open", files.config);
    return rewrite;
  }
  ReadResult read = ReadResult::EndOfFile;
  int truncatedLine = 0;
  const std::array<KeyLines, 3> keys = scanKeys(input.get(), read, truncatedLine);
  if (read == ReadResult::ReadFailed || ::lseek(input.get(), 0, SEEK_SET) != 0) {
    reportFileError("read", files.config);
    return rewrite;
  }
  const KeyLines& lines = linesOf(keys, request.setting);
  rewrite.result = refusal(files, lines, truncatedLine);
  if (rewrite.result != PassResult::Ok) return rewrite;
  rewrite.result = copyWithSetting(files, input.get(), request, lines.first > 0, output);
  return rewrite;
}

int findAmbiguousSettings(const ConfigFiles& files, std::uint64_t maxBytes, std::vector<SettingFinding>& findings) {
  FileDescriptor input = openForReading(files.config);
  if (!input.valid()) {
    reportFileError(errno == kNotRegularFile ? "read" : "open", files.config);
    return -1;
  }
  ReadResult read = ReadResult::EndOfFile;
  int truncatedLine = 0;
  const std::array<KeyLines, 3> keys = scanKeys(input.get(), read, truncatedLine, maxBytes);
  if (read == ReadResult::ReadFailed) {
    reportFileError("read", files.config);
    return -1;
  }
  for (const KeyLines& lines : keys) {
    if (lines.second > 0) findings.push_back({lines.first, lines.duplicated()});
    if (lines.prefixed > 0) findings.push_back({lines.prefixed, lines.prefixedText()});
  }
  return 0;
}

}  // namespace zorv
