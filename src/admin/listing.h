// The printed listing of the settings and the printer entry table.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_pass.h"

namespace zorv {

// The backend and FIFO path columns of the first rows entries, from one
// pass over CUPS's own printers.conf.
void fillSpoolerColumns(ConfigContent& content, std::size_t rows);

// Scans printers.conf for these queues now, while the run waits for the
// scheduler; a later listing whose queues are all among them takes their
// columns from this scan instead of reading the file again.
void scanSpoolerColumnsAhead(std::string_view cupsConfigPath, const std::vector<std::string>& queues);

// What the scheduler was asked. An entry whose queue it was not asked
// about (it could not be reached, or the name first appeared on the last
// read of the file) reads "unchecked", never "invalid Spool Name" or
// "unknown-queue": the scheduler did not say so.
struct SchedulerState {
  bool reached = true;
  std::function<bool(std::string_view)> answered;  // null: every name was asked about

  bool asked(std::string_view queue) const { return reached && (!answered || answered(queue)); }
};

// The listing of content with the spooler's columns filled in: the
// classic listing, or the TSV records. Text from the files is escaped for
// a terminal (Escaping::TerminalText), or as TSV fields.
void printResult(ConfigContent& content, const SchedulerState& scheduler, bool tsv);

void printListing(const ConfigContent& content, const SchedulerState& scheduler, std::FILE* out = stdout);

// An entry's state word in the records for scripts: ok, unknown-queue or
// unchecked (the scheduler was not asked about its queue: SchedulerState::asked).
const char* tsvEntryState(const PrinterEntry& entry, bool asked);

// One field of a TSV record (Escaping::TsvField): a tab, newline or
// backslash as \t, \n or \\, any other control character as \xNN.
std::string tsvField(std::string_view field);

// The listing for scripts: tab-separated records of the settings, then one
// per block of the file in file order, no padding, no 16-row limit.
void printTsvListing(const ConfigContent& content, const SchedulerState& scheduler, std::FILE* out = stdout);

// The same records printed as a read meets the blocks. Entries wait in
// batches, so that printers.conf is read once a batch for their spooler
// columns and memory stays bounded whatever the file's size.
class TsvListing {
 public:
  explicit TsvListing(std::FILE* out = stdout) : out_(out) {}

  void settings(const ConfigSettings& settings);
  // asked: the scheduler was asked about the entry's queue (SchedulerState::asked).
  void entry(const PrinterEntry& entry, bool asked);
  void finish();

 private:
  void flush();

  std::FILE* out_;
  std::string printersConf_;
  std::vector<PrinterEntry> waiting_;
  std::vector<const char*> states_;  // of the waiting entries' queues
  bool scanned_ = false;
  bool scanFailed_ = false;  // the later batches go without the columns, too
};

}  // namespace zorv
