#include "admin/listing.h"

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>

#include "io/escaping.h"
#include "io/file_descriptor.h"
#include "spooler/printers_conf_scan.h"

namespace zorv {
namespace {

constexpr int kDefaultUiPort = 59787;

const char* listedWord(const PrinterEntry& entry, const SchedulerState& scheduler) {
  const bool unchecked = entry.state == EntryState::AsRead && entry.unknownQueue;
  return unchecked && !scheduler.asked(entry.spooler.view()) ? "unchecked" : statusWord(entry);
}

std::string shown(std::string_view text) { return escaped(text, Escaping::TerminalText); }

void printEntryRow(std::FILE* out, int index, const PrinterEntry& entry, const SchedulerState& scheduler) {
  std::fprintf(out, "     [%d]    : %s \t: %s \t\t: %s \t: %s \t: %s\n", index, shown(entry.spooler.view()).c_str(),
               shown(entry.backend.view()).c_str(), shown(entry.fifoPath.view()).c_str(),
               shown(entry.devicePath.view()).c_str(), listedWord(entry, scheduler));
}

}  // namespace

std::string tsvField(std::string_view field) { return escaped(field, Escaping::TsvField); }

namespace {

void printTsvRecord(std::FILE* out, std::initializer_list<std::string_view> fields) {
  const char* separator = "";
  for (const std::string_view field : fields) {
    std::fprintf(out, "%s%s", separator, tsvField(field).c_str());
    separator = "\t";
  }
  std::fprintf(out, "\n");
}

// A batch this large takes a few megabytes while it waits.
constexpr std::size_t kBatchEntries = 16384;

// printers.conf as scanned while the scheduler was asked, for the queues
// the file named then: a run's one scan when the file has not changed.
struct ScannedAhead {
  std::string path;
  SpoolerColumns columns;
  int result = 0;
  int error = 0;  // errno when result is -1
};

std::optional<ScannedAhead> scannedAhead;

// The parts the scan made ahead found for each entry, or nothing when it
// was of another file or missed one of their queues.
std::optional<std::vector<const DeviceUriParts*>> partsScannedAhead(const std::string& printersConf,
                                                                   std::span<const PrinterEntry> entries) {
  if (!scannedAhead || scannedAhead->path != printersConf) return std::nullopt;
  std::vector<const DeviceUriParts*> parts;
  for (const PrinterEntry& entry : entries) {
    const auto found = scannedAhead->columns.find(foldedQueueName(entry.spooler.view()));
    if (found == scannedAhead->columns.end()) return std::nullopt;
    parts.push_back(&found->second);
  }
  return parts;
}

// The spooler columns of entries from one pass over printersConf; -1 with
// errno set, and the entries as they were, when it cannot be read.
int fillColumns(const std::string& printersConf, std::span<PrinterEntry> entries) {
  if (const auto ahead = partsScannedAhead(printersConf, entries)) {
    if (scannedAhead->result != 0) {
      errno = scannedAhead->error;
      return -1;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (!(*ahead)[i]->fromFile) continue;
      entries[i].backend = (*ahead)[i]->backend;
      entries[i].fifoPath = (*ahead)[i]->fifoPath;
    }
    return 0;
  }
  SpoolerColumns columns;
  for (const PrinterEntry& entry : entries) {
    columns[foldedQueueName(entry.spooler.view())] = DeviceUriParts{entry.backend, entry.fifoPath};
  }
  if (scanSpoolerConfig(printersConf, columns) != 0) return -1;
  for (PrinterEntry& entry : entries) {
    const DeviceUriParts& parts = columns[foldedQueueName(entry.spooler.view())];
    entry.backend = parts.backend;
    entry.fifoPath = parts.fifoPath;
  }
  return 0;
}

// Unreadable like a missing file, but worth a word: it is not a file at all.
void reportUnreadable(const std::string& printersConf) {
  if (errno == kNotRegularFile) reportFileError("read", printersConf);
}

}  // namespace

void scanSpoolerColumnsAhead(std::string_view cupsConfigPath, const std::vector<std::string>& queues) {
  ScannedAhead ahead{printersConfPath(cupsConfigPath), {}, 0, 0};
  for (const std::string& queue : queues) ahead.columns.try_emplace(foldedQueueName(queue));
  ahead.result = scanSpoolerConfig(ahead.path, ahead.columns);
  ahead.error = errno;
  scannedAhead = std::move(ahead);
}

const char* tsvEntryState(const PrinterEntry& entry, bool asked) {
  return !entry.unknownQueue ? "ok" : asked ? "unknown-queue" : "unchecked";
}

void fillSpoolerColumns(ConfigContent& content, std::size_t rows) {
  const std::string path = printersConfPath(content.settings.cupsConfigPath.view());
  const std::size_t filled = std::min(rows, content.entries.size());
  if (fillColumns(path, std::span(content.entries).first(filled)) != 0) reportUnreadable(path);
}

void printResult(ConfigContent& content, const SchedulerState& scheduler, bool tsv) {
  if (tsv) {
    printTsvListing(content, scheduler);
    return;
  }
  fillSpoolerColumns(content, kMaxEntries);
  printListing(content, scheduler);
}

void printTsvListing(const ConfigContent& content, const SchedulerState& scheduler, std::FILE* out) {
  TsvListing listing(out);
  listing.settings(content.settings);
  for (const PrinterEntry& entry : content.entries) listing.entry(entry, scheduler.asked(entry.spooler.view()));
  listing.finish();
}

void TsvListing::settings(const ConfigSettings& settings) {
  printersConf_ = printersConfPath(settings.cupsConfigPath.view());
  printTsvRecord(out_, {"setting", "CUPS_ConfigPath", settings.cupsConfigPath.view()});
  printTsvRecord(out_, {"setting", "LogDirectoryPath", settings.logDirectoryPath.view()});
  printTsvRecord(out_, {"setting", "UI_Port", settings.uiPortText.view()});
}

void TsvListing::entry(const PrinterEntry& entry, bool asked) {
  if (entry.state == EntryState::Deleted) return;  // no longer in the file
  waiting_.push_back(entry);
  states_.push_back(tsvEntryState(entry, asked));
  if (waiting_.size() == kBatchEntries) flush();
}

void TsvListing::finish() {
  // printers.conf is looked at even for no entries, as it always was.
  if (!scanned_ || !waiting_.empty()) flush();
}

void TsvListing::flush() {
  if (!scanFailed_ && fillColumns(printersConf_, waiting_) != 0) {
    scanFailed_ = true;
    reportUnreadable(printersConf_);
  }
  scanned_ = true;
  for (std::size_t i = 0; i < waiting_.size(); ++i) {
    const PrinterEntry& entry = waiting_[i];
    // The listing's 15 spaces stand for "nothing found"; scripts get nothing.
    const std::string_view fifoPath = entry.fifoPath == kNoFifoPath ? "" : entry.fifoPath.view();
    printTsvRecord(out_, {"entry", entry.spooler.view(), entry.devicePath.view(), entry.backend.view(), fifoPath,
                          states_[i]});
  }
  waiting_.clear();
  states_.clear();
}

void printListing(const ConfigContent& content, const SchedulerState& scheduler, std::FILE* out) {
  const ConfigSettings& settings = content.settings;
  std::fprintf(out, "\n");
  std::fprintf(out, " CUPS_ConfigPath = %s\n",
               settings.cupsConfigPath.empty() ? "Default(/etc/cups)" : shown(settings.cupsConfigPath.view()).c_str());
  std::fprintf(out, " LOG Path        = %s\n",
               settings.logDirectoryPath.empty() ? "None" : shown(settings.logDirectoryPath.view()).c_str());
  std::fprintf(out, " UI Port         = %d\n\n", settings.uiPort == 0 ? kDefaultUiPort : settings.uiPort);
  std::fprintf(out, " Entry Num  : Spooler\t: Backend\t: FIFO path\t\t: Device Path \t: Status \n");
  std::fprintf(out, " ----------------------------------------------------------------------------\n");
  for (std::size_t i = 0; i < content.entries.size() && i < kMaxEntries; ++i) {
    printEntryRow(out, static_cast<int>(i), content.entries[i], scheduler);
  }
  if (content.unlistedCount > 0) {
    std::fprintf(out, " Entries not listed: %d (the table holds %d)\n", content.unlistedCount, kMaxEntries);
  }
  std::fprintf(out, "\n");
}

}  // namespace zorv
