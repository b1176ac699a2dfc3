// The read of a run that holds the lock: the scheduler is asked about every
// queue name before the lock is taken, so no lock is ever held while a
// scheduler takes its time, and a missing file is created from the default
// only under the exclusive lock.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "admin/listing.h"
#include "config/config_pass.h"
#include "io/file_descriptor.h"
#include "io/file_lock.h"
#include "spooler/cups_queue_directory.h"

namespace zorv {

// Answers only names the scheduler was asked about before the lock; any
// other name is noted as missed (and answered "unknown") so that the run
// can let go of the lock, ask, and read again. A name still missed when
// the reads end is listed as unchecked, not as unknown.
class AskedQueues final : public QueueDirectory {
 public:
  explicit AskedQueues(CupsQueueDirectory& scheduler) : scheduler_(scheduler) {}

  // kMaxNamesAsked names or more stand for a file of more names than are
  // remembered: the list of every queue that they fetch answers them all.
  void ask(const std::vector<std::string>& names, const std::function<void()>& meanwhile = {});
  bool knows(std::string_view queue) override;
  // At most kMaxNamesAsked names.
  std::vector<std::string> takeMissed();

  CupsQueueDirectory& scheduler() { return scheduler_; }
  SchedulerState state() const;
  // Whether an entry of queue that the scheduler did not know is listed as
  // unknown rather than unchecked, as state() would tell it now.
  bool asked(std::string_view queue) const { return scheduler_.reachable() && answered(queue); }

 private:
  bool answered(std::string_view queue) const;

  CupsQueueDirectory& scheduler_;
  std::set<std::string> asked_;  // folded names
  std::vector<std::string> missed_;
  std::set<std::string> missedFolded_;
  bool everyName_ = false;  // a question of so many names was asked
};

// The names asked before the lock, at most: more than the scheduler is
// asked one by one, so that it is asked for every queue at once.
constexpr std::size_t kMaxNamesAsked = 4096;

struct LockedRead {
  FileDescriptor lock;  // held until the run ends; invalid for a preview
  ConfigRead read;
};

// List: the classic listing, which creates a missing file from the
// default. Read (since 1.2, --tsv without a change): a listing that writes
// nothing, not even the lock file, and needs no root; a missing file is an
// error. Change: -p or -x. Preview: --dry-run.
enum class RunKind { List, Read, Change, Preview };

// Where a listing of any size gets its entries instead of holding them:
// the file's settings first, then each block in file order.
struct EntryStream {
  std::function<void(const ConfigSettings&)> settings;
  std::function<void(const PrinterEntry&)> entry;
};

struct LockedReadRequest {
  RunKind kind = RunKind::List;
  EntryKeeping keeping = EntryKeeping::TableOnly;
  std::string_view queue;  // the operand, asked about with the file's names
  // Runs after the first questions, before the lock and the read: an exit
  // status other than 0 ends the run there, so a refusal creates nothing.
  std::function<int()> onceAsked;
  bool keepsNoEntries = false;  // the read's content holds none
  // Gets the last read's settings, then its entries from one more read of
  // the same open file: nothing of a read that is then repeated.
  const EntryStream* stream = nullptr;
  std::vector<std::string> moreQueues = {};  // asked about too, in the same request (a batch's)
  // Done while the scheduler is first asked, with the names asked and the
  // file's CUPS_ConfigPath as read before the lock: work that would
  // otherwise wait for the answer.
  std::function<void(const QueueNames&)> whileAsking = {};
};

// Asks, locks (shared for a list of an existing file, exclusive otherwise,
// shared where it can be had for a read, none for a preview), finishes an
// interrupted backup before a change, and reads. 0, or the exit status of a
// failure already reported.
int readUnderLock(const ConfigFiles& files, AskedQueues& queues, const LockedReadRequest& request, LockedRead& out);

// Reads files.config as it now stands into stream, with settings (a
// change's result, read again under the change's lock).
int streamConfig(const ConfigFiles& files, AskedQueues& queues, const ConfigSettings& settings,
                 const EntryStream& stream);

}  // namespace zorv
