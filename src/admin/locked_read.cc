#include "admin/locked_read.h"

#include <sys/stat.h>
#include <unistd.h>

#include "admin/config_replace.h"
#include "admin/exit_status.h"
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

void AskedQueues::ask(const std::vector<std::string>& names, const std::function<void()>& meanwhile) {
  scheduler_.lookUp(names, meanwhile);
  for (const std::string& name : names) asked_.insert(foldedQueueName(name));
  everyName_ = everyName_ || names.size() >= kMaxNamesAsked;
}

bool AskedQueues::answered(std::string_view queue) const {
  return asked_.count(foldedQueueName(queue)) != 0 || (everyName_ && scheduler_.answers(queue));
}

bool AskedQueues::knows(std::string_view queue) {
  if (answered(queue)) return scheduler_.knows(queue);
  if (missedFolded_.size() < kMaxNamesAsked && missedFolded_.insert(foldedQueueName(queue)).second) {
    missed_.emplace_back(queue);
  }
  return false;
}

SchedulerState AskedQueues::state() const {
  return {scheduler_.reachable(), [this](std::string_view queue) { return answered(queue); }};
}

std::vector<std::string> AskedQueues::takeMissed() {
  std::vector<std::string> missed;
  missed.swap(missed_);
  missedFolded_.clear();
  return missed;
}

namespace {

// input is open: nothing is printed of a file that cannot be opened.
int readStream(const ConfigFiles& files, AskedQueues& queues, const ConfigSettings& settings,
               const EntryStream& stream, int input) {
  stream.settings(settings);
  PassObserver observer;
  observer.entry = stream.entry;
  return exitStatusFor(
      readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, &observer, 0, input}).result);
}

// One read under the lock, from input, which it opens.
int readOnce(const ConfigFiles& files, AskedQueues& queues, const LockedReadRequest& request, FileDescriptor& input,
             LockedRead& out) {
  const bool createsNothing = request.kind == RunKind::Preview || request.kind == RunKind::Read;
  const MissingFile missing = createsNothing ? MissingFile::IsAnError : MissingFile::CreateDefault;
  input = openConfigInput(files, missing);
  if (!input.valid()) return kExitFileError;
  PassObserver keepNothing;
  keepNothing.entry = [](const PrinterEntry&) {};
  const PassObserver* observer = request.keepsNoEntries || request.stream != nullptr ? &keepNothing : nullptr;
  out.read = readConfig(files, queues, {request.keeping, missing, request.queue, observer, 0, input.get()});
  return exitStatusFor(out.read.result);
}

// The same file again, from its start: what the stream gets is what the
// last read saw, even without a lock.
int streamAgain(const ConfigFiles& files, AskedQueues& queues, const LockedRead& read, const EntryStream& stream,
                int input) {
  if (::lseek(input, 0, SEEK_SET) != 0) {
    reportFileError("read", files.config);
    return kExitFileError;
  }
  return readStream(files, queues, read.read.content.settings, stream, input);
}

}  // namespace

int readUnderLock(const ConfigFiles& files, AskedQueues& queues, const LockedReadRequest& request, LockedRead& out) {
  QueueNames firstAsked = queueNamesIn(files, request.keeping, kMaxNamesAsked);
  if (!request.queue.empty()) firstAsked.names.emplace_back(request.queue);
  firstAsked.names.insert(firstAsked.names.end(), request.moreQueues.begin(), request.moreQueues.end());
  std::vector<std::string> names = firstAsked.names;
  const bool preview = request.kind == RunKind::Preview;
  const bool readOnly = request.kind == RunKind::Read;
  bool shared = request.kind == RunKind::List;
  for (int attempt = 1;; ++attempt) {
    out.lock = FileDescriptor();
    std::function<void()> meanwhile;
    if (attempt == 1 && request.whileAsking) meanwhile = [&] { request.whileAsking(firstAsked); };
    queues.ask(names, meanwhile);
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
    FileDescriptor input;
    if (const int status = readOnce(files, queues, request, input, out); status != kExitOk) return status;
    names = queues.takeMissed();
    if (!names.empty() && attempt < kMaxReads) continue;
    const int status =
        request.stream == nullptr ? kExitOk : streamAgain(files, queues, out, *request.stream, input.get());
    out.read.input = std::move(input);  // for a rewrite under the same lock
    return status;
  }
}

int streamConfig(const ConfigFiles& files, AskedQueues& queues, const ConfigSettings& settings,
                 const EntryStream& stream) {
  const FileDescriptor input = openConfigInput(files, MissingFile::IsAnError);
  if (!input.valid()) return kExitFileError;
  return readStream(files, queues, settings, stream, input.get());
}

}  // namespace zorv
