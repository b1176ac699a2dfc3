#include "admin/edit_change.h"

#include <cstdio>

#include "admin/change_audit.h"
#include "admin/change_log.h"
#include "admin/config_replace.h"
#include "admin/exit_status.h"
#include "admin/json_output.h"
#include "admin/preview.h"
#include "config/config_format.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

std::string labelOf(const EditList& list, std::size_t i) { return i < list.labels.size() ? list.labels[i] : ""; }

}  // namespace

void logEdit(const ConfigEdit& edit, const EditOutcome& outcome, const std::string& config) {
  if (edit.mode == RewriteMode::SetValue) {
    logSettingChange(edit.key, {outcome.previous, outcome.previousPresent}, edit.value, config);
    return;
  }
  const AdminCommand command = edit.mode == RewriteMode::Remove ? AdminCommand::Remove : AdminCommand::Add;
  logDeviceChange(command, edit.queue, outcome.previous, edit.device, config);
}

namespace {

// The listing of the whole change, as a single command's shows its one:
// removed entries stay in place as "Delete", modified ones read
// "Modified", new ones follow the others as "New!!".
void showEdit(ConfigContent& shown, const ConfigEdit& edit, const EditOutcome& outcome, EntryKeeping keeping) {
  if (!outcome.changes) return;
  if (edit.mode == RewriteMode::SetValue) return setSettingValue(shown.settings, edit.key, edit.value);
  for (PrinterEntry& entry : shown.entries) {
    if (!sameQueueName(entry.spooler.view(), edit.queue) || entry.state == EntryState::Deleted) continue;
    entry.state = edit.mode == RewriteMode::Remove ? EntryState::Deleted : EntryState::Modified;
    if (edit.mode == RewriteMode::Remove) continue;
    copyText(entry.spooler, edit.queue);
    copyText(entry.devicePath, edit.device);
  }
  if (edit.mode != RewriteMode::Add || outcome.hadBlock) return;
  if (keeping == EntryKeeping::TableOnly && shown.entries.size() + static_cast<std::size_t>(shown.unlistedCount) >=
                                                static_cast<std::size_t>(kMaxEntries)) {
    ++shown.unlistedCount;
    return;
  }
  PrinterEntry entry = freshEntry();
  entry.state = EntryState::New;
  copyText(entry.spooler, edit.queue);
  copyText(entry.devicePath, edit.device);
  shown.entries.push_back(entry);
}

void noteEditsDoingNothing(const EditList& list, const EditPlan& plan, const std::string& config) {
  for (std::size_t i = 0; i < list.edits.size(); ++i) {
    const ConfigEdit& edit = list.edits[i];
    if (edit.mode != RewriteMode::Remove || plan.outcomes[i].hadBlock) continue;
    reportAside(Aside::Notice, "%s%s has no entry in %s; nothing to remove", labelOf(list, i).c_str(),
                std::string(edit.queue).c_str(), config.c_str());
  }
}

int writePlan(const ConfigFiles& files, const EditList& list, const EditPlan& plan, const LongOptions& options,
              AskedQueues& queues) {
  if (!plan.changesAnything) return kExitOk;
  const Replacing replacing = options.dryRun ? Replacing::Preview : Replacing::Replace;
  ConfigContent unused;
  const ChangeLines lines{[&] {
                            for (std::size_t i = 0; i < list.edits.size(); ++i) {
                              if (plan.outcomes[i].changes) logEdit(list.edits[i], plan.outcomes[i], files.config);
                            }
                          },
                          [&] {
                            logRefusal("%s could not make the change to %s: %s", invokingPerson().c_str(),
                                       auditQuoted(files.config).c_str(), std::string(lastProblem()).c_str());
                          }};
  return rewriteConfiguration(files, plan.last, queues, replacing, unused, lines);
}

}  // namespace

int commitEditList(const ConfigFiles& files, const EditList& list, const LongOptions& options, AskedQueues& queues,
                   LockedRead& locked, bool& changed) {
  const EntryKeeping keeping = options.tsv ? EntryKeeping::All : EntryKeeping::TableOnly;
  const EditPlan plan = planEdits(files, list.edits, keeping);
  if (plan.result != PassResult::Ok) {
    reportProblem("%sthis change cannot be made; nothing changed", labelOf(list, plan.refusedEdit).c_str());
    return exitStatusFor(plan.result);
  }
  const PreviewCapture capture(options.json && options.dryRun);
  if (const int status = writePlan(files, list, plan, options, queues); status != kExitOk) return status;
  changed = plan.changesAnything && !options.dryRun;
  noteEditsDoingNothing(list, plan, files.config);
  std::optional<std::string> diff = capture.diff();
  if (options.json && options.dryRun && !diff) diff = "";  // nothing to preview: an empty diff, as -p's
  if (options.quiet && !diff) return kExitOk;
  ConfigContent& shown = locked.read.content;
  for (std::size_t i = 0; i < list.edits.size(); ++i) showEdit(shown, list.edits[i], plan.outcomes[i], keeping);
  if (options.json) {
    printListingDocument(options.quiet ? nullptr : &shown, queues.state(), diff);
    return kExitOk;
  }
  if (!options.tsv || options.dryRun) {
    printResult(shown, queues.state(), options.tsv);
    return kExitOk;
  }
  // The listing for scripts of a change is the new file's, read again
  // under the lock as it is printed, whatever its size.
  TsvListing tsv;
  const EntryStream stream = {
      [&tsv](const ConfigSettings& settings) { tsv.settings(settings); },
      [&tsv, &queues](const PrinterEntry& entry) { tsv.entry(entry, queues.asked(entry.spooler.view())); }};
  if (const int status = streamConfig(files, queues, shown.settings, stream); status != kExitOk) return status;
  tsv.finish();
  return kExitOk;
}

}  // namespace zorv
