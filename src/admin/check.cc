#include "admin/check.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "admin/device_survey.h"
#include "admin/run.h"
#include "config/config_format.h"
#include "config/config_pass.h"
#include "io/file_descriptor.h"
#include "spooler/cups_queue_directory.h"
#include "spooler/printers_conf_scan.h"

namespace zorv {
namespace {

// Findings are printed by line; at one line, those about the line itself
// come first, then the settings, then the block that opens there, then the
// printer its device path leads to.
enum class Rank { Line, Setting, Entry, Device };

struct Finding {
  int line;
  std::string message;
  bool warning = false;
  Rank rank = Rank::Entry;
};

// A file of any size is checked through, but not one that never ends.
constexpr std::uint64_t kMaxCheckedBytes = std::uint64_t{1} << 30;
// The printers behind the entries are looked at for this many blocks; a
// real configuration has far fewer, and memory stays bounded.
constexpr std::size_t kMaxSurveyedEntries = 4096;

// Queue names need no scheduler for a lookup in the file itself.
class EveryQueue final : public QueueDirectory {
 public:
  bool knows(std::string_view) override { return true; }
};

std::vector<Finding> settingsFindings(const ConfigSettings& settings) {
  std::vector<Finding> findings;
  if (!settings.hasPorts) findings.push_back({0, "no <Ports> line; an add has nowhere to put a new block"});
  if (settings.uiPortLine > 0 && !isPortNumber(settings.uiPortText.view())) {
    findings.push_back({settings.uiPortLine, "UI_Port is not a number from 1 to 65535"});
  }
  const std::string printersConf = printersConfPath(settings.cupsConfigPath.view());
  FileDescriptor readable = openForReading(printersConf);
  if (!readable.valid()) {
    // Root's alone on many systems (0600 root:lp): a fact about the
    // system, not the file.
    findings.push_back({settings.cupsConfigPathLine, "warning: CUPS_ConfigPath: no readable " + printersConf, true});
  }
  for (Finding& finding : findings) finding.rank = Rank::Setting;
  return findings;
}

bool printsBefore(const Finding& a, const Finding& b) { return a.line != b.line ? a.line < b.line : a.rank < b.rank; }

// Prints findings in line order as the pass goes: those met since the last
// block closed wait for it, as the block's own finding precedes the lines
// inside it. Memory holds one block's findings, whatever the file's size;
// the findings known before the pass (settings, printers) join in order.
class FindingPrinter {
 public:
  FindingPrinter(std::string path, std::vector<Finding> known, bool strict)
      : path_(std::move(path)), known_(std::move(known)), strict_(strict) {
    std::stable_sort(known_.begin(), known_.end(), printsBefore);
  }

  void add(Finding finding) { pending_.push_back(std::move(finding)); }

  // Prints what is pending, and the findings known before, through line.
  void flushThrough(int line) {
    while (nextKnown_ < known_.size() && known_[nextKnown_].line <= line) pending_.push_back(known_[nextKnown_++]);
    std::stable_sort(pending_.begin(), pending_.end(), printsBefore);
    for (const Finding& finding : pending_) {
      std::printf("%s:%d: %s\n", path_.c_str(), finding.line, finding.message.c_str());
      wrong_ = wrong_ || !finding.warning || strict_;
    }
    pending_.clear();
  }

  void flushAll() { flushThrough(INT_MAX); }
  bool wrong() const { return wrong_; }

 private:
  std::string path_;
  std::vector<Finding> known_;
  bool strict_;  // warnings count as errors
  std::size_t nextKnown_ = 0;
  std::vector<Finding> pending_;
  bool wrong_ = false;
};

void checkDevice(const PrinterEntry& entry, FindingPrinter& out) {
  const int line = entry.devicePathLine > 0 ? entry.devicePathLine : entry.line;
  const std::string queue(entry.spooler.view());
  const std::string device(entry.devicePath.view());
  if (device.empty() || device[0] != '/') {
    out.add({line, "the device path \"" + device + "\" of " + queue + " is not absolute"});
    return;
  }
  if (const char* problem = deviceProblem(device)) {
    out.add({line, "warning: the device path " + device + " of " + queue + " " + problem, true});
  }
}

// The findings about each block, as it closes.
class EntryChecker {
 public:
  EntryChecker(const CupsQueueDirectory& queues, FindingPrinter& out) : queues_(queues), out_(out) {}

  void check(const PrinterEntry& entry) {
    const std::string queue(entry.spooler.view());
    if (++blocks_ == kMaxEntries + 1) {
      out_.add({entry.line, "more than " + std::to_string(kMaxEntries) + " printer blocks; the table holds " +
                                std::to_string(kMaxEntries)});
    }
    const auto [first, isFirst] = firstLines_.emplace(foldedQueueName(queue), entry.line);
    if (!isFirst) {
      out_.add({entry.line, "a second block for " + queue + "; the first is at line " + std::to_string(first->second)});
    }
    if (entry.unknownQueue && queues_.reachable()) {
      out_.add({entry.line, "warning: the CUPS scheduler knows no queue " + queue, true});
    }
    checkDevice(entry, out_);
    out_.flushThrough(entry.closeLine);
  }

 private:
  const CupsQueueDirectory& queues_;
  FindingPrinter& out_;
  std::map<std::string, int> firstLines_;  // one per distinct queue name
  int blocks_ = 0;
};

// The settings, and the printers behind the first entries: what only the
// whole file tells, known before the findings of the blocks are streamed.
int findingsKnownBefore(const ConfigFiles& files, std::vector<Finding>& known) {
  EveryQueue every;
  std::vector<PrinterEntry> entries;
  PassObserver observer;
  observer.entry = [&entries](const PrinterEntry& entry) {
    if (entries.size() < kMaxSurveyedEntries) entries.push_back(entry);
  };
  const ConfigRead read = readConfig(files, every, {EntryKeeping::All, MissingFile::IsAnError, {}, &observer, kMaxCheckedBytes});
  if (read.result != PassResult::Ok) return kExitFileError;
  known = settingsFindings(read.content.settings);
  for (DeviceWarning& warning : deviceWarnings(entries)) {
    known.push_back({warning.line, std::move(warning.message), true, Rank::Device});
  }
  return kExitOk;
}

}  // namespace

const char* deviceProblem(const std::string& path) {
  struct stat info {};
  // A directory on the path the caller may not search hides what is there.
  if (::stat(path.c_str(), &info) != 0) return errno == EACCES ? "cannot be checked" : "does not exist";
  return S_ISCHR(info.st_mode) ? nullptr : "is not a character device";
}

// Two passes: what only the whole file tells first, then the blocks and
// lines, streamed.
int checkConfig(const std::string& path, bool strict) {
  const ConfigFiles files = configFilesFor(path);
  if (checkLinksFollowed(files) != 0) return kExitFileError;
  std::vector<Finding> known;
  if (findingsKnownBefore(files, known) != kExitOk) return kExitFileError;

  CupsQueueDirectory queues;
  queues.lookUp(queueNamesIn(files, EntryKeeping::All));
  FindingPrinter out(path, std::move(known), strict);
  EntryChecker entries(queues, out);
  PassObserver observer;
  observer.finding = [&out](const LineFinding& finding) { out.add({finding.line, finding.message, false, Rank::Line}); };
  observer.entry = [&entries](const PrinterEntry& entry) { entries.check(entry); };
  const ConfigRead read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, &observer, kMaxCheckedBytes});
  if (read.result != PassResult::Ok) return kExitFileError;
  out.flushAll();
  // A scheduler that could not be asked was said on standard error.
  const bool unchecked = strict && !queues.reachable();
  return out.wrong() || unchecked ? kExitRefused : kExitOk;
}

int printDevicePath(const std::string& path, std::string_view queue) {
  const ConfigFiles files = configFilesFor(path);
  if (checkLinksFollowed(files) != 0) return kExitFileError;
  EveryQueue queues;
  const ConfigRead read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, nullptr});
  if (read.result != PassResult::Ok) return kExitFileError;
  for (const PrinterEntry& entry : read.content.entries) {
    if (!sameQueueName(entry.spooler.view(), queue)) continue;
    std::printf("%s\n", entry.devicePath.c_str());
    return kExitOk;
  }
  std::fprintf(stderr, "zorvadmin: %s has no entry in %s\n", std::string(queue).c_str(), path.c_str());
  return kExitRefused;
}

}  // namespace zorv
