#include "admin/check.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "admin/check_findings.h"
#include "admin/device_path.h"
#include "admin/device_survey.h"
#include "admin/exit_status.h"
#include "admin/json_output.h"
#include "config/config_format.h"
#include "config/config_pass.h"
#include "config/setting_rewrite.h"
#include "io/escaping.h"
#include "io/file_descriptor.h"
#include "io/leftovers.h"
#include "io/problem_report.h"
#include "spooler/cups_queue_directory.h"
#include "spooler/printers_conf_scan.h"

namespace zorv {
namespace {

// A file of any size is checked through, but not one that never ends.
constexpr std::uint64_t kMaxCheckedBytes = std::uint64_t{1} << 30;
// The printers behind the entries are looked at for this many blocks; a
// real configuration has far fewer, and memory stays bounded.
constexpr std::size_t kMaxSurveyedEntries = 4096;
// Queue names asked about before the pass: past this many the scheduler
// is asked for every queue anyway.
constexpr std::size_t kMaxNamesAsked = 4096;
// Distinct queue names remembered for finding a second block of one.
constexpr std::size_t kMaxDuplicateKeys = 65536;
// Device paths whose verdict is remembered, so each is looked at once.
constexpr std::size_t kMaxDeviceVerdicts = 32768;
// Findings held for a block that has not closed yet (see FindingPrinter).
constexpr std::size_t kMaxPendingFindings = 16384;

// Each distinct device path is looked at once, up to a cap; past it a path
// is looked at again when met again.
class DeviceVerdicts {
 public:
  DevicePathVerdict judge(const std::string& path) {
    if (const auto known = verdicts_.find(path); known != verdicts_.end()) return known->second;
    const DevicePathVerdict verdict = judgeDevicePath(path);
    if (verdicts_.size() < kMaxDeviceVerdicts) verdicts_.emplace(path, verdict);
    return verdict;
  }

 private:
  std::unordered_map<std::string, DevicePathVerdict> verdicts_;
};

// A compact key of a folded queue name: two independent 64-bit hashes,
// so that a false "second block" would need both to collide at once.
struct NameKey {
  std::uint64_t first;
  std::uint64_t second;
  bool operator==(const NameKey&) const = default;
};

struct NameKeyHash {
  std::size_t operator()(const NameKey& key) const noexcept { return static_cast<std::size_t>(key.first); }
};

NameKey nameKey(std::string_view queue) {
  const std::string folded = foldedQueueName(queue);
  std::uint64_t fnv = 14695981039346656037ULL;
  for (const char c : folded) fnv = (fnv ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return {fnv, static_cast<std::uint64_t>(std::hash<std::string>{}(folded))};
}

void checkDevice(const PrinterEntry& entry, FindingPrinter& out, DeviceVerdicts& verdicts) {
  const int line = entry.devicePathLine > 0 ? entry.devicePathLine : entry.line;
  const std::string queue(entry.spooler.view());
  const std::string device(entry.devicePath.view());
  if (device.empty() || device[0] != '/') {
    out.add({line, "the device path \"" + device + "\" of " + queue + " is not absolute"});
    return;
  }
  // A path where no printer can be is an error; one where none is yet, not.
  const DevicePathVerdict verdict = verdicts.judge(device);
  if (const char* problem = devicePathProblem(verdict)) {
    const bool refused = refusesDevicePath(verdict);
    out.add({line, (refused ? "" : "warning: ") + std::string("the device path ") + shownDevicePath(device) + " of " +
                       queue + " " + problem, !refused});
  }
}

// The findings about each block, as it closes; a block whose findings had
// to be printed before it closed was checked then (checkEarly).
class EntryChecker {
 public:
  EntryChecker(const CupsQueueDirectory& queues, FindingPrinter& out, DeviceVerdicts& verdicts)
      : queues_(queues), out_(out), verdicts_(verdicts) {}

  void check(const PrinterEntry& entry) {
    if (entry.line != earlyLine_) addFindings(entry);
    out_.flushThrough(entry.closeLine);
  }

  void checkEarly(const PrinterEntry& entry) {
    if (entry.line == earlyLine_) return;
    earlyLine_ = entry.line;
    addFindings(entry);
  }

 private:
  void addFindings(const PrinterEntry& entry) {
    const std::string queue(entry.spooler.view());
    if (++blocks_ == kMaxEntries + 1) {
      out_.add({entry.line, "more than " + std::to_string(kMaxEntries) + " printer blocks; the table holds " +
                                std::to_string(kMaxEntries)});
    }
    checkDuplicate(entry, queue);
    if (entry.unknownQueue && queues_.reachable()) {
      out_.add({entry.line, "warning: the CUPS scheduler knows no queue " + queue, true});
    }
    checkDevice(entry, out_, verdicts_);
  }

  // Past the cap, names already seen are still found again; new ones are
  // not remembered, which is said once.
  void checkDuplicate(const PrinterEntry& entry, const std::string& queue) {
    const NameKey key = nameKey(queue);
    if (const auto first = firstLines_.find(key); first != firstLines_.end()) {
      out_.add({entry.line, "a second block for " + queue + "; the first is at line " + std::to_string(first->second)});
    } else if (firstLines_.size() < kMaxDuplicateKeys) {
      firstLines_.emplace(key, entry.line);
    } else if (!capSaid_) {
      capSaid_ = true;
      out_.add({entry.line, "warning: too many blocks to check for duplicates", true});
    }
  }

  const CupsQueueDirectory& queues_;
  FindingPrinter& out_;
  DeviceVerdicts& verdicts_;
  std::unordered_map<NameKey, int, NameKeyHash> firstLines_;  // one per distinct queue name
  int blocks_ = 0;
  int earlyLine_ = 0;  // of the block checked before it closed
  bool capSaid_ = false;
};

// The blocks that hold more findings than FindingPrinter waits for, in
// file order: known from the first pass, so that the second can print
// their findings before they close, in order, without holding them all.
class LongBlocks {
 public:
  void noteFinding() { ++sinceClose_; }
  void noteClose(const PrinterEntry& entry) {
    if (sinceClose_ > kMaxPendingFindings) blocks_.push_back(entry);
    sinceClose_ = 0;
  }
  // The block that encloses line, or null.
  const PrinterEntry* enclosing(int line) const {
    auto after = std::upper_bound(blocks_.begin(), blocks_.end(), line,
                                  [](int at, const PrinterEntry& block) { return at < block.line; });
    if (after == blocks_.begin()) return nullptr;
    const PrinterEntry& block = *std::prev(after);
    return line <= block.closeLine ? &block : nullptr;
  }

 private:
  std::vector<PrinterEntry> blocks_;
  std::size_t sinceClose_ = 0;
};

// The settings, and the printers behind the first entries: what only the
// whole file tells, known before the findings of the blocks are streamed.
// Only an entry whose path is a character device can lead to a printer.
int findingsKnownBefore(const ConfigFiles& files, std::vector<Finding>& known, bool& surveyed, LongBlocks& longBlocks,
                        DeviceVerdicts& verdicts) {
  EveryQueueKnown every;
  std::vector<PrinterEntry> entries;
  PassObserver observer;
  observer.finding = [&longBlocks](const LineFinding&) { longBlocks.noteFinding(); };
  bool anyEntry = false;
  observer.entry = [&](const PrinterEntry& entry) {
    anyEntry = true;
    longBlocks.noteClose(entry);
    const std::string device(entry.devicePath.view());
    if (entries.size() >= kMaxSurveyedEntries || device.empty() || device[0] != '/') return;
    if (verdicts.judge(device) == DevicePathVerdict::CharacterDevice) entries.push_back(entry);
  };
  const ConfigRead read = readConfig(files, every, {EntryKeeping::All, MissingFile::IsAnError, {}, &observer, kMaxCheckedBytes});
  if (read.result != PassResult::Ok) return kExitFileError;
  // A survey that fails is said whenever the file has entries: an entry
  // without a path stands in for those that lead nowhere.
  if (entries.empty() && anyEntry) entries.push_back(freshEntry());
  known = settingsFindings(read.content.settings);
  for (const Leftover& leftover : findLeftovers(files.config, files.newFile, files.backupTemporary)) {
    if (leftover.problem == nullptr) continue;
    known.push_back({0, "warning: " + leftover.path + " " + leftover.problem + " at the name of a new file: no change removes it",
                     true, Rank::Setting});
  }
  std::vector<SettingFinding> ambiguous;
  if (findAmbiguousSettings(files, kMaxCheckedBytes, ambiguous) != 0) return kExitFileError;
  for (SettingFinding& finding : ambiguous) {
    known.push_back({finding.line, std::move(finding.message), false, Rank::Setting});
  }
  for (DeviceWarning& warning : deviceWarnings(entries, surveyed)) {
    known.push_back({warning.line, std::move(warning.message), true, Rank::Device});
  }
  return kExitOk;
}

}  // namespace

// Two passes: what only the whole file tells first, then the blocks and
// lines, streamed.
int checkConfig(const std::string& path, bool strict, bool json) {
  const ConfigFiles files = configFilesFor(path);
  if (checkLinksFollowed(files) != 0) return kExitFileError;
  std::vector<Finding> known;
  bool surveyed = true;
  LongBlocks longBlocks;
  DeviceVerdicts verdicts;
  if (findingsKnownBefore(files, known, surveyed, longBlocks, verdicts) != kExitOk) return kExitFileError;

  CupsQueueDirectory queues;
  queues.lookUp(queueNamesIn(files, EntryKeeping::All, kMaxNamesAsked).names);
  std::vector<JsonFinding> findings;
  FindingPrinter out(path, std::move(known), strict, json ? &findings : nullptr);
  EntryChecker entries(queues, out, verdicts);
  PassObserver observer;
  // A block's own findings print before the lines inside it, so these wait
  // for it to close; too many, and what is known is printed now.
  observer.finding = [&](const LineFinding& finding) {
    out.add({finding.line, finding.message, false, Rank::Line});
    if (out.pendingCount() <= kMaxPendingFindings) return;
    if (const PrinterEntry* block = longBlocks.enclosing(finding.line)) entries.checkEarly(*block);
    out.flushThrough(finding.line - 1);
  };
  observer.entry = [&entries](const PrinterEntry& entry) { entries.check(entry); };
  const ConfigRead read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, &observer, kMaxCheckedBytes});
  if (read.result != PassResult::Ok) return kExitFileError;
  out.flushAll();
  // A scheduler that could not be asked, or printers that could not be
  // surveyed, were said on standard error.
  const bool unchecked = strict && (!queues.reachable() || !surveyed);
  const int status = out.wrong() || unchecked ? kExitRefused : kExitOk;
  if (json) printCheckDocument(path, findings, status);
  return status;
}

}  // namespace zorv
