#include "config/edit_list.h"

#include <sys/mman.h>

#include <cerrno>

#include "config/config_format.h"
#include "config/queue_directory.h"

namespace zorv {

EditOutcome outcomeOf(const ConfigEdit& edit, const ConfigRead& read) {
  EditOutcome outcome;
  outcome.hadBlock = read.blockFound;
  if (edit.mode == RewriteMode::SetValue) {
    const SettingValue now = settingValueOf(read.content.settings, edit.key);
    outcome.previous = now.value;
    outcome.previousPresent = now.present;
    outcome.changes = !now.present || now.value != edit.value;
    return outcome;
  }
  if (!read.queueBlocks.empty()) outcome.previous = std::string(read.queueBlocks.front().devicePath.view());
  if (edit.mode == RewriteMode::Remove) {
    outcome.changes = read.blockFound;
    return outcome;
  }
  outcome.changes = read.queueBlocks.empty();
  for (const PrinterEntry& block : read.queueBlocks) {
    if (block.spooler.view() != edit.queue || block.devicePathLine == 0 || block.devicePath.view() != edit.device) {
      outcome.changes = true;
    }
  }
  return outcome;
}

namespace {

RewriteRequest requestOf(const ConfigEdit& edit, bool fileHasBlock, int inputFd) {
  RewriteRequest request;
  request.mode = edit.mode;
  request.queue = edit.queue;
  request.devicePath = edit.device;
  request.fileHasBlock = fileHasBlock;
  request.setting = edit.key;
  request.value = edit.value;
  request.inputFd = inputFd;
  return request;
}

// The edit made into a memory file of its own.
FileDescriptor rewriteIntoMemory(const ConfigFiles& files, const RewriteRequest& request, PassResult& result) {
  FileDescriptor memory(::memfd_create("zorv-edit", MFD_CLOEXEC));
  if (!memory.valid()) {
    reportFileError("rewrite", files.config);
    result = PassResult::FileError;
    return memory;
  }
  const int fd = memory.get();
  // The bytes of a plan pass do not depend on what the scheduler knows; the
  // run's own directory is asked only by the commit's pass.
  EveryQueueKnown anyQueue;
  result = rewriteConfig(files, request, anyQueue, [&files, fd](std::string_view bytes) {
             if (writeAllBytes(fd, bytes) == 0) return 0;
             reportFileError("rewrite", files.config);
             return -1;
           }).result;
  return memory;
}

}  // namespace

EditPlan planEdits(const ConfigFiles& files, const std::vector<ConfigEdit>& edits, EntryKeeping keeping) {
  EditPlan plan;
  FileDescriptor current;  // invalid: files.config itself
  PassObserver keepNothing;
  keepNothing.entry = [](const PrinterEntry&) {};
  for (std::size_t i = 0; i < edits.size(); ++i) {
    const ConfigEdit& edit = edits[i];
    EveryQueueKnown anyQueue;
    const std::string_view queue = edit.mode == RewriteMode::SetValue ? std::string_view() : edit.queue;
    const FileDescriptor input = current.valid() ? reopenFromStart(files, current.get()) : FileDescriptor();
    if (current.valid() && !input.valid()) {
      plan.result = PassResult::FileError;
      plan.refusedEdit = i;
      return plan;
    }
    const ConfigRead read = readConfig(files, anyQueue,
                                       {EntryKeeping::TableOnly, MissingFile::IsAnError, queue, &keepNothing, 0,
                                        input.valid() ? input.get() : -1});
    plan.result = read.result;
    plan.refusedEdit = i;
    if (read.result != PassResult::Ok) return plan;
    plan.outcomes.push_back(outcomeOf(edit, read));
    if (!plan.outcomes.back().changes) continue;
    RewriteRequest request = requestOf(edit, read.blockFound, current.valid() ? current.get() : -1);
    FileDescriptor next = rewriteIntoMemory(files, request, plan.result);
    if (plan.result != PassResult::Ok) return plan;
    plan.changesAnything = true;
    plan.last = request;
    plan.last.keeping = keeping;
    plan.lastInput = std::move(current);
    current = std::move(next);
  }
  plan.last.inputFd = plan.lastInput.valid() ? plan.lastInput.get() : -1;
  return plan;
}

}  // namespace zorv
