// The configuration pass: reads the configuration file line by line and
// returns its settings and printer entries; for an add or remove it also
// produces the rewritten file's bytes while it reads. Two entry points,
// readConfig and rewriteConfig, over one pass (pass_machine.h) in two
// modes, returning one record.
//
// The config layer's convention: a pass returns its record with a
// PassResult (Ok, FileError, Refused) and a step that is no pass returns 0
// or -1; either way a failure has been reported (io/problem_report.h or
// reportFileError) before the return, and the caller only passes it on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_files.h"
#include "config/queue_directory.h"
#include "io/file_descriptor.h"
#include "io/text_field.h"

namespace zorv {

// The listing's table holds this many entries; an add never makes more.
constexpr int kMaxEntries = 16;

// What a rewrite did to an entry; the listing's status word comes from it.
enum class EntryState { AsRead, New, Modified, Deleted };

struct PrinterEntry {
  int line = 0;            // of the block's opening tag, from 1
  int devicePathLine = 0;  // of its last DevicePath line; 0 when it has none
  int closeLine = 0;       // of its closing tag; 0 for a block the rewrite added
  TextField spooler;     // the queue name of the block
  TextField devicePath;
  EntryState state = EntryState::AsRead;
  TextField backend;     // from CUPS's printers.conf, filled in by the caller
  TextField fifoPath;    // likewise; 15 spaces until then
  bool unknownQueue = false;  // the scheduler did not know the queue
};

// What a fresh entry's FIFO path holds until printers.conf names one.
constexpr std::string_view kNoFifoPath = "               ";

PrinterEntry freshEntry();

// The listing's status word: "New!!", "Modified", "Delete", else "invalid
// Spool Name" for a queue the scheduler does not know, else nothing.
const char* statusWord(const PrinterEntry& entry);

struct ConfigSettings {
  TextField cupsConfigPath;
  TextField logDirectoryPath;
  std::int32_t uiPort = 0;  // 0 when the file has none
  TextField uiPortText;     // the value as written
  int cupsConfigPathLine = 0;  // 0 when the file has none
  int logDirectoryPathLine = 0;
  int uiPortLine = 0;
  bool hasPorts = false;       // a <Ports> line, where an add inserts its block
};

// One setting's value as the file writes it, and whether it has a line.
struct SettingValue {
  std::string value;
  bool present = false;
};

// key is UI_Port, LogDirectoryPath or CUPS_ConfigPath (the last for any other).
SettingValue settingValueOf(const ConfigSettings& settings, std::string_view key);
// Sets what the listing shows of key to value, as a file with that line has it.
void setSettingValue(ConfigSettings& settings, std::string_view key, std::string_view value);

// A line that a rewrite would not copy as it stands.
struct LineFinding {
  int line;
  const char* message;
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

// What a read or a rewrite returns; a rewrite's content holds the entries
// as the new file has them.
struct ConfigRead {
  PassResult result = PassResult::Ok;
  ConfigContent content;
  bool blockFound = false;  // some block, listed or not, is the queue asked about
  std::vector<PrinterEntry> queueBlocks;  // the closed blocks of that queue, listed or not
  // The file the pass opened, still open: a rewrite under the same lock
  // reads it again from its start rather than open the file once more.
  FileDescriptor input;
};

// For a reader that streams what the pass meets, in file order, instead of
// holding it: a file of any size then takes no more memory than its
// largest block.
struct PassObserver {
  std::function<void(const LineFinding&)> finding;  // a line a rewrite would drop or cut
  std::function<void(const PrinterEntry&)> entry;   // each kept block as it closes; content keeps none
};

struct ReadOptions {
  EntryKeeping keeping = EntryKeeping::TableOnly;
  MissingFile missing = MissingFile::IsAnError;
  std::string_view queue;                  // the queue whose block blockFound tells of
  const PassObserver* observer = nullptr;  // null: findings are not noted, entries are kept in content
  std::uint64_t maxBytes = 0;              // past this many bytes the read fails (EFBIG); 0 for no bound
  int input = -1;  // an open configuration (openConfigInput), read from where it stands; -1: files.config
};

// Opens files.config for a read, first creating it from the default when
// it does not exist and that is asked for; invalid after reporting why not.
FileDescriptor openConfigInput(const ConfigFiles& files, MissingFile missing);

// Reads files.config; a file that does not exist is first created from the
// default when asked. Every kept block's queue is looked up in queues.
ConfigRead readConfig(const ConfigFiles& files, QueueDirectory& queues, const ReadOptions& options);

struct QueueNames {
  std::vector<std::string> names;
  std::string cupsConfigPath;  // the file's setting, where CUPS's printers.conf is
};

// The queue names of the blocks a read with this keeping would look up,
// each once, in file order; nothing when the file cannot be read (a later read reports
// it). For asking the scheduler before a run takes its lock. At most
// maxNames are returned: a caller that asks for every queue anyway needs
// no more, and memory stays bounded.
QueueNames queueNamesIn(const ConfigFiles& files, EntryKeeping keeping, std::size_t maxNames = SIZE_MAX);

enum class RewriteMode { Add, Remove, SetValue };

struct RewriteRequest {
  RewriteMode mode = RewriteMode::Add;
  std::string_view queue;       // blocks match it as the scheduler compares names
  std::string_view devicePath;  // for an add
  bool fileHasBlock = false;    // the read pass met a block for queue: an add modifies, never appends
  EntryKeeping keeping = EntryKeeping::TableOnly;  // which entries the result's content holds
  std::string_view setting = {};  // for SetValue: UI_Port, LogDirectoryPath or CUPS_ConfigPath
  std::string_view value = {};    // and its new value
  int inputFd = -1;               // when set: rewrite these bytes, from their start, instead of files.config
};

// Takes the rewritten bytes, in order; returns 0, or -1 after reporting.
using ByteSink = std::function<int(std::string_view)>;

// A descriptor of its own for the bytes of fd (inputFd), at their start;
// invalid after reporting a failure.
FileDescriptor reopenFromStart(const ConfigFiles& files, int fd);

ConfigRead rewriteConfig(const ConfigFiles& files, const RewriteRequest& request, QueueDirectory& queues,
                            const ByteSink& output);

}  // namespace zorv
