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

  void ask(const std::vector<std::string>& names);
  bool knows(std::string_view queue) override;
  std::vector<std::string> takeMissed();

  CupsQueueDirectory& scheduler() { return scheduler_; }
  SchedulerState state() const;

 private:
  CupsQueueDirectory& scheduler_;
  std::set<std::string> asked_;  // folded names
  std::vector<std::string> missed_;
  std::set<std::string> everMissed_;  // folded names
};

struct LockedRead {
  FileDescriptor lock;  // held until the run ends; invalid for a preview
  ConfigRead read;
};

// List: the classic listing, which creates a missing file from the
// default. Read (since 1.2, --tsv without a change): a listing that writes
// nothing, not even the lock file, and needs no root; a missing file is an
// error. Change: -p or -x. Preview: --dry-run.
enum class RunKind { List, Read, Change, Preview };

struct LockedReadRequest {
  RunKind kind = RunKind::List;
  EntryKeeping keeping = EntryKeeping::TableOnly;
  std::string_view queue;  // the operand, asked about with the file's names
  // Runs after the first questions, before the lock and the read: an exit
  // status other than 0 ends the run there, so a refusal creates nothing.
  std::function<int()> onceAsked;
  std::vector<std::string> moreQueues = {};  // asked about too, in the same request (a batch's)
};

// Asks, locks (shared for a list of an existing file, exclusive otherwise,
// shared where it can be had for a read, none for a preview), finishes an
// interrupted backup before a change, and reads. 0, or the exit status of a
// failure already reported.
int readUnderLock(const ConfigFiles& files, AskedQueues& queues, const LockedReadRequest& request, LockedRead& out);

}  // namespace zorv
