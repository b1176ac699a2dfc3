#include "admin/set_command.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "admin/change_audit.h"
#include "admin/change_log.h"
#include "admin/config_replace.h"
#include "admin/edit_change.h"
#include "admin/exit_status.h"
#include "admin/json_output.h"
#include "admin/locked_read.h"
#include "admin/operands.h"
#include "admin/preview.h"
#include "config/config_format.h"
#include "io/problem_report.h"

namespace zorv {
namespace {


void logRefusedSetting(std::string_view key, const std::string& config) {
  logRefusal("%s could not set %s in %s: %s", invokingPerson().c_str(), auditQuoted(key).c_str(),
             auditQuoted(config).c_str(), std::string(lastProblem()).c_str());
}

int checkSetting(std::string_view key, std::string_view value) {
  if (const char* problem = settingProblem(key, value)) {
    reportProblem("the value of %s %s", std::string(key).c_str(), problem);
    return kExitRefused;
  }
  return checkOperand("value", value);
}

int setUnderLock(const LongOptions& options, const ConfigFiles& files) {
  CupsQueueDirectory scheduler;
  AskedQueues queues(scheduler);
  const EntryKeeping keeping = options.tsv ? EntryKeeping::All : EntryKeeping::TableOnly;
  LockedRead locked;
  const RunKind kind = options.dryRun ? RunKind::Preview : RunKind::Change;
  if (const int status = readUnderLock(files, queues, {kind, keeping, {}, {}}, locked); status != kExitOk) return status;
  const ConfigEdit edit{RewriteMode::SetValue, {}, {}, options.setKey, options.setValue};
  const EditOutcome outcome = outcomeOf(edit, locked.read);
  RewriteRequest request;
  request.mode = RewriteMode::SetValue;
  request.setting = options.setKey;
  request.value = options.setValue;
  request.keeping = keeping;
  Replacing replacing = options.dryRun ? Replacing::Preview : Replacing::Replace;
  if (!options.dryRun && !outcome.changes) replacing = Replacing::NothingToChange;
  // The entries are as read: --set changes no block.
  ConfigContent unused;
  const PreviewCapture capture(options.json && options.dryRun);
  const int status =
      rewriteConfiguration(files, request, queues, replacing, unused,
                           {[&] { logEdit(edit, outcome, files.config); },
                            [&] { logRefusedSetting(options.setKey, files.config); }});
  if (status != kExitOk || (options.quiet && !capture.diff())) return status;
  ConfigContent& shown = locked.read.content;
  setSettingValue(shown.settings, options.setKey, options.setValue);
  if (options.json) {
    printListingDocument(options.quiet ? nullptr : &shown, queues.state(), capture.diff());
    return kExitOk;
  }
  printResult(shown, queues.state(), options.tsv);
  return kExitOk;
}

int setChecked(const LongOptions& options, const ConfigFiles& files) {
  const std::string_view key = options.setKey;
  if (key != keyword::kUiPort && key != keyword::kCupsConfigPath && key != keyword::kLogDirectoryPath) {
    reportProblem("--set knows UI_Port, LogDirectoryPath and CUPS_ConfigPath, not %s", auditQuoted(key).c_str());
    return kExitRefused;
  }
  if (const int status = checkSetting(key, options.setValue); status != kExitOk) return status;
  if (checkLinksFollowed(files) != 0) return kExitFileError;
  return setUnderLock(options, files);
}

}  // namespace

const char* settingProblem(std::string_view key, std::string_view value) {
  if (key == keyword::kUiPort) return isPortNumber(value) ? nullptr : "must be a number from 1 to 65535";
  if (key != keyword::kCupsConfigPath && key != keyword::kLogDirectoryPath) return nullptr;
  return !value.empty() && value[0] == '/' ? nullptr : "must be an absolute path";
}

int runSet(const LongOptions& options) {
  const ConfigFiles files = configFilesFromEnvironment();
  const int status = setChecked(options, files);
  if (status != kExitOk && !options.dryRun && !commitFailureLogged()) logRefusedSetting(options.setKey, files.config);
  return status;
}

}  // namespace zorv
