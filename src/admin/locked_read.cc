#include "admin/locked_read.h"

#include <sys/stat.h>

#include "admin/config_replace.h"
#include "admin/run.h"
#include "io/leftovers.h"
#include "io/new_file.h"

namespace zorv {
namespace {

// The file changed between the reads often enough: the last read leaves
// names it was not asked about unchecked rather than ask under the lock.
constexpr int kMaxReads = 3;

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

void AskedQueues::ask(const std::vector<std::string>& names) {
  scheduler_.lookUp(names);
  for (const std::string& name : names) asked_.insert(foldedQueueName(name));
}

bool AskedQueues::knows(std::string_view queue) {
  if (asked_.count(foldedQueueName(queue)) != 0) return scheduler_.knows(queue);
  missed_.emplace_back(queue);
  everMissed_.insert(foldedQueueName(queue));
  return false;
}

SchedulerState AskedQueues::state() const {
  SchedulerState state{scheduler_.reachable(), {}};
  for (const std::string& folded : everMissed_) {
    if (asked_.count(folded) == 0) state.unasked.insert(folded);
  }
  return state;
}

std::vector<std::string> AskedQueues::takeMissed() {
  std::vector<std::string> missed;
  missed.swap(missed_);
  return missed;
}

int readUnderLock(const ConfigFiles& files, AskedQueues& queues, const LockedReadRequest& request, LockedRead& out) {
  std::vector<std::string> names = queueNamesIn(files, request.keeping);
  if (!request.queue.empty()) names.emplace_back(request.queue);
  names.insert(names.end(), request.moreQueues.begin(), request.moreQueues.end());
  const bool preview = request.kind == RunKind::Preview;
  const bool readOnly = request.kind == RunKind::Read;
  bool shared = request.kind == RunKind::List;
  for (int attempt = 1;; ++attempt) {
    out.lock = FileDescriptor();
    queues.ask(names);
    if (attempt == 1 && request.onceAsked) {
      if (const int status = request.onceAsked(); status != kExitOk) return status;
    }
    // Only the exclusive lock may write the default file: a listing that
    // finds none takes it.
    shared = shared && exists(files.config);
    const LockMode mode = readOnly ? LockMode::Reading : shared ? LockMode::Shared : LockMode::Exclusive;
    if (!preview && lockFile(files.lock, mode, lockTimeoutSeconds(), out.lock) != 0) return kExitFileError;
    if (shared && !exists(files.config)) continue;  // gone before the lock: the exclusive one makes it
    if (request.kind == RunKind::Change &&
        (finishInterruptedBackup(files.config, {files.backup, files.backupTemporary}) != 0 ||
         removeLeftovers(files.config, files.newFile, files.backupTemporary) != 0)) {
      return kExitFileError;
    }
    const MissingFile missing = preview || readOnly ? MissingFile::IsAnError : MissingFile::CreateDefault;
    out.read = readConfig(files, queues, {request.keeping, missing, request.queue, nullptr});
    if (out.read.result != PassResult::Ok) return exitStatusFor(out.read.result);
    names = queues.takeMissed();
    if (names.empty() || attempt == kMaxReads) return kExitOk;
  }
}

}  // namespace zorv
