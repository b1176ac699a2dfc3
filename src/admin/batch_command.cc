#include "admin/batch_command.h"

#include <cstdio>
#include <map>
#include <string>

#include "admin/batch_file.h"
#include "admin/change_log.h"
#include "admin/config_replace.h"
#include "admin/device_path.h"
#include "admin/edit_change.h"
#include "admin/exit_status.h"
#include "admin/operands.h"
#include "admin/process_guard.h"
#include "admin/set_command.h"
#include "config/config_format.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

struct Batch {
  std::string name;  // for the messages
  std::vector<BatchChange> changes;

  std::string label(const BatchChange& change) const { return name + ":" + std::to_string(change.line) + ": "; }

  int refuse(const BatchChange& change, const std::string& text, int status = kExitRefused) const {
    reportProblem("%s%s; nothing changed", label(change).c_str(), text.c_str());
    return status;
  }
};

bool knownKey(std::string_view key) {
  return key == keyword::kUiPort || key == keyword::kCupsConfigPath || key == keyword::kLogDirectoryPath;
}

// As -p and -o check theirs, the device path looked at with the caller's rights.
const char* deviceProblem(std::string_view device, DevicePathVerdict& verdict) {
  if (const char* problem = operandProblem(device)) return problem;
  if (device[0] != '/') return "must be absolute";
  withCallersRights([&] { verdict = judgeDevicePath(device); });
  return refusesDevicePath(verdict) ? devicePathProblem(verdict) : nullptr;
}

int checkChange(const Batch& batch, const BatchChange& change) {
  if (change.verb == BatchVerb::Set) {
    if (!knownKey(change.name)) {
      return batch.refuse(change, "set knows UI_Port, LogDirectoryPath and CUPS_ConfigPath, not " + auditQuoted(change.name));
    }
    const char* problem = settingProblem(change.name, change.value);
    if (problem == nullptr) problem = operandProblem(change.value);
    return problem == nullptr ? kExitOk : batch.refuse(change, "the value of " + change.name + " " + problem);
  }
  if (const char* problem = operandProblem(change.name)) return batch.refuse(change, std::string("the queue name ") + problem);
  if (change.verb == BatchVerb::Remove) return kExitOk;
  DevicePathVerdict verdict = DevicePathVerdict::CharacterDevice;
  if (const char* problem = deviceProblem(change.value, verdict)) {
    return batch.refuse(change, "the device path " + shownDevicePath(change.value) + " " + problem);
  }
  if (const char* problem = devicePathProblem(verdict)) {
    reportAside(Aside::Warning, "%sthe device path %s %s", batch.label(change).c_str(),
                shownDevicePath(change.value).c_str(), problem);
  }
  return kExitOk;
}

// Each line checked alone, then against the lines before it: one change a
// queue, one a setting.
int checkBatch(const Batch& batch) {
  std::map<std::string, int> seen;  // folded queue, or "set KEY", to its line
  for (const BatchChange& change : batch.changes) {
    if (const int status = checkChange(batch, change); status != kExitOk) return status;
    const std::string key = change.verb == BatchVerb::Set ? "set " + change.name : foldedQueueName(change.name);
    const auto [at, added] = seen.emplace(key, change.line);
    if (!added) {
      const std::string what = change.verb == BatchVerb::Set ? change.name : "the queue " + change.name;
      return batch.refuse(change, what + " is changed on line " + std::to_string(at->second) + " already");
    }
  }
  return kExitOk;
}

int checkQueuesKnown(const Batch& batch, AskedQueues& queues) {
  for (const BatchChange& change : batch.changes) {
    if (change.verb != BatchVerb::Add || queues.knows(change.name)) continue;
    if (!queues.scheduler().reachable()) {
      return batch.refuse(change, "cannot ask the scheduler about " + change.name, kExitSchedulerDown);
    }
    return batch.refuse(change, "the CUPS scheduler knows no queue " + change.name);
  }
  return kExitOk;
}

int batchUnderLock(const Batch& batch, const LongOptions& options, const ConfigFiles& files, bool& changed) {
  CupsQueueDirectory scheduler;
  AskedQueues queues(scheduler);
  const EntryKeeping keeping = options.tsv ? EntryKeeping::All : EntryKeeping::TableOnly;
  LockedReadRequest request{options.dryRun ? RunKind::Preview : RunKind::Change, keeping, {}, {}, {}};
  for (const BatchChange& change : batch.changes) {
    if (change.verb == BatchVerb::Add) request.moreQueues.push_back(change.name);
  }
  request.onceAsked = [&] { return checkQueuesKnown(batch, queues); };
  request.keepsNoEntries = options.tsv && !options.dryRun && !options.json;  // listed from the new file
  LockedRead locked;
  if (const int status = readUnderLock(files, queues, request, locked); status != kExitOk) return status;
  // The scheduler's spelling, as -p writes it; the strings outlive the edits.
  std::vector<std::string> spelled;
  spelled.reserve(batch.changes.size());
  EditList list;
  for (const BatchChange& change : batch.changes) {
    const bool add = change.verb == BatchVerb::Add;
    spelled.push_back(add ? scheduler.spelling(change.name) : change.name);
    ConfigEdit edit;
    edit.mode = add ? RewriteMode::Add : change.verb == BatchVerb::Remove ? RewriteMode::Remove : RewriteMode::SetValue;
    edit.queue = spelled.back();
    edit.device = change.value;
    edit.key = change.name;
    edit.value = change.value;
    list.edits.push_back(edit);
    list.labels.push_back(batch.label(change));
  }
  return commitEditList(files, list, options, queues, locked, changed);
}

int batchChecked(Batch& batch, const LongOptions& options, const ConfigFiles& files, bool& changed) {
  if (const int status = readBatchFile(options.batchFile, batch.changes); status != kExitOk) return status;
  if (const int status = checkBatch(batch); status != kExitOk) return status;
  if (checkLinksFollowed(files) != 0) return kExitFileError;
  return batchUnderLock(batch, options, files, changed);
}

}  // namespace

int runBatch(const LongOptions& options) {
  const ConfigFiles files = configFilesFromEnvironment();
  Batch batch{batchName(options.batchFile), {}};
  bool changed = false;
  const int status = batchChecked(batch, options, files, changed);
  if (status != kExitOk && !options.dryRun && !changed && !commitFailureLogged()) {
    logRefusal("%s could not make the changes of %s in %s: %s", invokingPerson().c_str(),
               auditQuoted(batch.name).c_str(), auditQuoted(files.config).c_str(), std::string(lastProblem()).c_str());
  }
  return status;
}

}  // namespace zorv
