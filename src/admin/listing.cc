#include "admin/listing.h"

#include <algorithm>
#include <cerrno>
#include <initializer_list>
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

const char* queueState(const PrinterEntry& entry, const SchedulerState& scheduler) {
  if (!entry.unknownQueue) return "ok";
  return scheduler.asked(entry.spooler.view()) ? "unknown-queue" : "unchecked";
}

}  // namespace

const char* tsvEntryState(const PrinterEntry& entry, const SchedulerState& scheduler) {
  return queueState(entry, scheduler);
}

void fillSpoolerColumns(ConfigContent& content, std::size_t rows) {
  const std::size_t filled = std::min(rows, content.entries.size());
  SpoolerColumns columns;
  for (std::size_t i = 0; i < filled; ++i) {
    const PrinterEntry& entry = content.entries[i];
    columns[foldedQueueName(entry.spooler.view())] = DeviceUriParts{entry.backend, entry.fifoPath};
  }
  const std::string path = printersConfPath(content.settings.cupsConfigPath.view());
  if (scanSpoolerConfig(path, columns) != 0) {
    // Unreadable like a missing file, but worth a word: it is not a file at all.
    if (errno == kNotRegularFile) reportFileError("read", path);
    return;
  }
  for (std::size_t i = 0; i < filled; ++i) {
    PrinterEntry& entry = content.entries[i];
    const DeviceUriParts& parts = columns[foldedQueueName(entry.spooler.view())];
    entry.backend = parts.backend;
    entry.fifoPath = parts.fifoPath;
  }
}

void printResult(ConfigContent& content, const SchedulerState& scheduler, bool tsv) {
  fillSpoolerColumns(content, tsv ? content.entries.size() : kMaxEntries);
  if (tsv) {
    printTsvListing(content, scheduler);
  } else {
    printListing(content, scheduler);
  }
}

void printTsvListing(const ConfigContent& content, const SchedulerState& scheduler, std::FILE* out) {
  const ConfigSettings& settings = content.settings;
  printTsvRecord(out, {"setting", "CUPS_ConfigPath", settings.cupsConfigPath.view()});
  printTsvRecord(out, {"setting", "LogDirectoryPath", settings.logDirectoryPath.view()});
  printTsvRecord(out, {"setting", "UI_Port", settings.uiPortText.view()});
  for (const PrinterEntry& entry : content.entries) {
    if (entry.state == EntryState::Deleted) continue;  // no longer in the file
    // The listing's 15 spaces stand for "nothing found"; scripts get nothing.
    const std::string_view fifoPath = entry.fifoPath == kNoFifoPath ? "" : entry.fifoPath.view();
    printTsvRecord(out, {"entry", entry.spooler.view(), entry.devicePath.view(), entry.backend.view(), fifoPath,
                         queueState(entry, scheduler)});
  }
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
