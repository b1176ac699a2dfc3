#include "admin/change_command.h"

#include <cstdio>
#include <string>

#include "admin/change_audit.h"
#include "admin/config_replace.h"
#include "admin/device_path.h"
#include "admin/device_survey.h"
#include "admin/edit_change.h"
#include "admin/exit_status.h"
#include "admin/json_output.h"
#include "admin/listing.h"
#include "admin/locked_read.h"
#include "admin/operands.h"
#include "admin/preview.h"
#include "admin/process_guard.h"
#include "config/config_files.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

// out: standard output as ever, standard error where it holds one JSON
// document only.
int checkOperandsWithCups(const AdminContext& context, AskedQueues& queues, std::FILE* out) {
  if (context.command != AdminCommand::Add) return kExitOk;
  if (!queues.knows(context.printerName)) {
    if (!queues.scheduler().reachable()) return kExitSchedulerDown;
    const std::string queue(context.printerName);
    std::fprintf(out, "\n %s can't find in CUPS Spooler Entry!!\n\n", queue.c_str());
    noteProblem("the CUPS scheduler knows no queue " + queue);
    return kExitRefused;
  }
  if (context.devicePath.empty()) {
    std::fprintf(out, "Please input -o [Printer Device Path]\n");
    noteProblem("no device path given");
    return kExitRefused;
  }
  return kExitOk;
}

RewriteRequest requestFor(const AdminContext& context, const std::string& spelled, const ConfigRead& read,
                          const LongOptions& options) {
  RewriteRequest request;
  request.mode = context.command == AdminCommand::Add ? RewriteMode::Add : RewriteMode::Remove;
  request.queue = spelled;
  request.devicePath = context.devicePath;
  request.fileHasBlock = read.blockFound;
  // A real change's listing is read from the new file; a preview's, and
  // --json's, come from here.
  request.keeping = options.tsv && (options.dryRun || options.json) ? EntryKeeping::All : EntryKeeping::TableOnly;
  return request;
}

int applyChange(const AdminContext& context, const LongOptions& options, const ConfigFiles& files,
                AskedQueues& queues, const ConfigRead& read, ConfigContent& shown) {
  const std::string spelled = context.command == AdminCommand::Add ? queues.scheduler().spelling(context.printerName)
                                                                   : std::string(context.printerName);
  const RewriteRequest request = requestFor(context, spelled, read, options);
  // A change that would leave every byte's meaning as it is leaves the file
  // itself as it is: same inode, same backup, no log line.
  const ConfigEdit edit{request.mode, spelled, context.devicePath, {}, {}};
  const EditOutcome outcome = outcomeOf(edit, read);
  Replacing replacing = options.dryRun ? Replacing::Preview : Replacing::Replace;
  if (!options.dryRun && !outcome.changes) replacing = Replacing::NothingToChange;
  return rewriteConfiguration(files, request, queues, replacing, shown,
                              {[&] { logEdit(edit, outcome, files.config); },
                               [&] { logRefusedChange(context, files.config, kExitFileError); }},
                              read.input.get());
}

// A device path that is not a device yet is allowed (it may appear when the
// printer is plugged in), but worth a word; found out with the caller's
// rights, so that a set-user-ID run tells no more than the caller may know.
void warnAboutDevice(std::string_view devicePath) {
  DevicePathVerdict verdict = DevicePathVerdict::CannotCheck;
  withCallersRights([&] { verdict = judgeDevicePath(devicePath); });
  if (const char* problem = devicePathProblem(verdict)) {
    reportAside(Aside::Warning, "the device path %s %s", shownDevicePath(devicePath).c_str(), problem);
  }
}

void noteNothingToRemove(const AdminContext& context, const ConfigFiles& files) {
  reportAside(Aside::Notice, "%s has no entry in %s; nothing changed", std::string(context.printerName).c_str(),
              files.config.c_str());
}

RunKind kindOf(const AdminContext& context, const LongOptions& options, bool mayCreateConfig) {
  if (context.command == AdminCommand::List) return mayCreateConfig ? RunKind::List : RunKind::Read;
  return options.dryRun ? RunKind::Preview : RunKind::Change;
}

// The listing for scripts of the file itself (a listing, or a change's
// result read again under its lock) is printed as it is read, whatever the
// file's size; a preview's comes from the rewrite it shows. --json holds
// its document whole anyway.
bool streamsListing(const LongOptions& options) { return options.tsv && !options.dryRun && !options.json; }

EntryStream streamInto(TsvListing& listing, const AskedQueues& queues) {
  return {[&listing](const ConfigSettings& settings) { listing.settings(settings); },
          [&listing, &queues](const PrinterEntry& entry) { listing.entry(entry, queues.asked(entry.spooler.view())); }};
}

// applied: the change is made (or needs none), so a later failure does not refuse it.
int runCommand(const AdminContext& context, const LongOptions& options, const ConfigFiles& files,
               bool mayCreateConfig, bool& applied) {
  if (const int status = checkOperands(context); status != kExitOk) return status;
  if (checkLinksFollowed(files) != 0) return kExitFileError;
  CupsQueueDirectory scheduler;
  AskedQueues queues(scheduler);
  const EntryKeeping keeping = options.tsv ? EntryKeeping::All : EntryKeeping::TableOnly;
  LockedReadRequest request{kindOf(context, options, mayCreateConfig), keeping, context.printerName, {}};
  TsvListing tsv;
  const EntryStream stream = streamInto(tsv, queues);
  if (context.command == AdminCommand::List) {
    if (streamsListing(options)) request.stream = &stream;
  } else {
    request.keepsNoEntries = options.tsv;  // a change lists the rewrite's entries, or the new file's
  }
  // Which printer the device path leads to: asked before the lock, too;
  // then the refusals that need only the scheduler's answer.
  if (context.command == AdminCommand::Add) {
    request.onceAsked = [&] {
      withCallersRights([&] { warnAboutPrinterIdentity(context.printerName, context.devicePath, scheduler); });
      return checkOperandsWithCups(context, queues, options.json ? stderr : stdout);
    };
  }
  // The listing's look at printers.conf, made while the scheduler answers;
  // not for a file of more names than are remembered, whose listing would
  // miss some of them and read printers.conf again.
  if (context.command == AdminCommand::List || !options.quiet) {
    request.whileAsking = [](const QueueNames& asked) {
      if (asked.names.empty() || asked.names.size() >= kMaxNamesAsked) return;
      scanSpoolerColumnsAhead(asked.cupsConfigPath, asked.names);
    };
  }
  LockedRead locked;
  const PreviewCapture capture(options.json && options.dryRun);
  const int status = readUnderLock(files, queues, request, locked);
  if (status != kExitOk) return status;
  ConfigContent shown = std::move(locked.read.content);  // the read needs no entries of its own past here
  if (context.command != AdminCommand::List) {
    if (context.command == AdminCommand::Add) warnAboutDevice(context.devicePath);
    if (const int failed = applyChange(context, options, files, queues, locked.read, shown); failed != kExitOk) {
      return failed;
    }
    applied = !options.dryRun;
    if (context.command == AdminCommand::Remove && !locked.read.blockFound) noteNothingToRemove(context, files);
    if (options.quiet && !capture.diff()) return kExitOk;
  }
  if (options.json) {
    printListingDocument(options.quiet ? nullptr : &shown, queues.state(), capture.diff());
    return kExitOk;
  }
  if (!streamsListing(options)) {
    printResult(shown, queues.state(), options.tsv);
    return kExitOk;
  }
  if (context.command != AdminCommand::List) {
    if (const int failed = streamConfig(files, queues, shown.settings, stream); failed != kExitOk) return failed;
  }
  tsv.finish();
  return kExitOk;
}

}  // namespace

int runClassic(const AdminContext& context, const LongOptions& options, bool mayCreateConfig) {
  const ConfigFiles files = configFilesFromEnvironment();
  bool applied = false;
  const int status = runCommand(context, options, files, mayCreateConfig, applied);
  // What a preview would not have done is not worth a line.
  if (status != kExitOk && context.command != AdminCommand::List && !options.dryRun && !applied &&
      !commitFailureLogged()) {
    logRefusedChange(context, files.config, status);
  }
  return status;
}

// With --tsv it only reads, as the listing of --tsv alone does.
int listConfiguration(const LongOptions& options) { return runClassic(AdminContext{}, options, !options.tsv); }

}  // namespace zorv
