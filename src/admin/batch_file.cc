#include "admin/batch_file.h"

#include <unistd.h>

#include <cerrno>

#include "admin/process_guard.h"
#include "admin/run.h"
#include "io/file_descriptor.h"
#include "io/line_io.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view skipBlanks(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && isBlank(text[at])) ++at;
  return text.substr(at);
}

// The first field of text, which then holds what follows it.
std::string_view takeField(std::string_view& text) {
  text = skipBlanks(text);
  std::size_t end = 0;
  while (end < text.size() && !isBlank(text[end])) ++end;
  const std::string_view field = text.substr(0, end);
  text = text.substr(end);
  return field;
}

}  // namespace

std::string batchName(std::string_view path) { return path == "-" ? "(standard input)" : std::string(path); }

const char* parseBatchLine(std::string_view text, BatchChange& change) {
  const std::string_view verb = takeField(text);
  change.name = std::string(takeField(text));
  if (verb == "remove") {
    change.verb = BatchVerb::Remove;
    if (change.name.empty()) return "remove needs a queue name";
    return skipBlanks(text).empty() ? nullptr : "remove takes one queue name and nothing more";
  }
  if (verb != "add" && verb != "set") return "a change begins with add, remove or set";
  change.verb = verb == "add" ? BatchVerb::Add : BatchVerb::Set;
  change.value = std::string(skipBlanks(text));
  if (change.name.empty() || change.value.empty()) {
    return change.verb == BatchVerb::Add ? "add needs a queue name and a device path" : "set needs a setting and its value";
  }
  return nullptr;
}

int readBatchFile(std::string_view path, std::vector<BatchChange>& changes) {
  const std::string name = batchName(path);
  FileDescriptor opened;
  if (path != "-") {
    withCallersRights([&] { opened = openForReading(std::string(path)); });
    if (!opened.valid()) {
      reportFileError(errno == kNotRegularFile ? "read" : "open", std::string(path));
      return kExitFileError;
    }
  }
  const int fd = path == "-" ? STDIN_FILENO : opened.get();
  int number = 1;
  int status = kExitOk;
  const ReadResult read = readLines(fd, [&](const Line& line) {
    const int at = number;
    number += line.lineBreaks > 0 ? line.lineBreaks : 1;
    const std::string_view text = skipBlanks(line.view());
    if (text.empty() || text[0] == '#') return 0;
    BatchChange change;
    change.line = at;
    const char* problem = line.truncated ? "the line is longer than 1024 characters" : parseBatchLine(text, change);
    if (problem == nullptr && changes.size() == kMaxBatchChanges) problem = "a batch holds at most 4096 changes";
    if (problem != nullptr) {
      reportProblem("%s:%d: %s; nothing changed", name.c_str(), at, problem);
      status = kExitRefused;
      return 1;
    }
    changes.push_back(std::move(change));
    return 0;
  });
  if (read == ReadResult::ReadFailed) {
    reportFileError("read", name);
    return kExitFileError;
  }
  return status;
}

}  // namespace zorv
