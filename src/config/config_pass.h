// The configuration pass: reads the configuration file line by line and
// returns its settings and printer entries; for an add or remove it also
// produces the rewritten file's bytes while it reads.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "config/config_files.h"
#include "config/queue_directory.h"
#include "io/text_field.h"

namespace zorv {

// The listing's table holds this many entries; an add never makes more.
constexpr int kMaxEntries = 16;

enum class ConfigSection { None = 0, Path = 1, Printer = 2, Ports = 3 };

struct PrinterEntry {
  TextField spooler;     // the queue name of the block
  TextField devicePath;
  TextField status;      // "invalid Spool Name", "Modified", "Delete", "New!!" or empty
  TextField backend;     // from CUPS's printers.conf, filled in by the caller
  TextField fifoPath;    // likewise; 15 spaces until then
};

PrinterEntry freshEntry();

struct ConfigSettings {
  TextField cupsConfigPath;
  TextField logDirectoryPath;
  std::int32_t uiPort = 0;  // 0 when the file has none
};

struct ConfigContent {
  ConfigSettings settings;
  std::vector<PrinterEntry> entries;  // in file order
  int unlistedCount = 0;              // printer blocks beyond the table's kMaxEntries
};

enum class PassResult {
  Ok,
  FileError,  // reported on standard error
  Refused,    // the rewrite cannot do what was asked; reported on standard error
};

// Entries past the table are only counted, unless a caller needs them all.
enum class EntryKeeping { TableOnly, All };
enum class MissingFile { CreateDefault, IsAnError };

struct ConfigRead {
  PassResult result = PassResult::Ok;
  ConfigContent content;
  bool blockFound = false;  // some block, listed or not, is the queue asked about
};

// Reads files.config; a file that does not exist is first created from the
// default when asked. Every kept block's queue is looked up in queues.
// queue, when not empty, is the one whose block blockFound tells of.
ConfigRead readConfig(const ConfigFiles& files, QueueDirectory& queues, EntryKeeping keeping, MissingFile missing,
                      std::string_view queue = {});

enum class RewriteMode { Add, Remove };

struct RewriteRequest {
  RewriteMode mode = RewriteMode::Add;
  std::string_view queue;       // blocks match it as the scheduler compares names
  std::string_view devicePath;  // for an add
  bool fileHasBlock = false;    // the read pass met a block for queue: an add modifies, never appends
};

// Takes the rewritten bytes, in order; returns 0, or -1 after reporting.
using ByteSink = std::function<int(std::string_view)>;

struct ConfigRewrite {
  PassResult result = PassResult::Ok;
  ConfigContent content;  // the entries as the new file has them, with status words
  bool blockFound = false;
};

ConfigRewrite rewriteConfig(const ConfigFiles& files, const RewriteRequest& request, QueueDirectory& queues,
                            const ByteSink& output);

}  // namespace zorv
