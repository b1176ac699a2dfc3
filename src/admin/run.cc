#include "admin/run.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "admin/batch_command.h"
#include "admin/change_command.h"
#include "admin/check.h"
#include "admin/context.h"
#include "admin/devices_command.h"
#include "admin/operands.h"
#include "admin/options.h"
#include "admin/process_guard.h"
#include "admin/restore_command.h"
#include "admin/set_command.h"
#include "admin/stable_names_command.h"
#include "config/config_files.h"
#include "io/pending_files.h"

namespace zorv {
namespace {

std::string checkedPath(const LongOptions& options) {
  if (!options.checkFile.empty()) return std::string(options.checkFile);
  return configFilesFromEnvironment().config;
}

// Questions that change nothing need no root, and get none: a set-user-ID
// privilege is given up before anything is opened.
int answerQuestion(const LongOptions& options) {
  if (giveUpSetUserId() != 0) return kExitFileError;
  switch (options.mode) {
    case RunMode::Help: printHelp(); return kExitOk;
    case RunMode::Version: std::printf("zorvadmin %s\n", ZORV_VERSION); return kExitOk;
    case RunMode::Check: return checkConfig(checkedPath(options), options.strict, options.json);
    case RunMode::Get:
      if (const int status = checkOperand("queue name", options.getQueue); status != kExitOk) return status;
      return printDevicePath(checkedPath(options), options.getQueue);
    case RunMode::Devices: return printDevices(options.tsv, options.json);
    case RunMode::Restore:
    case RunMode::Set:
    case RunMode::Batch:
    case RunMode::StableNames:
    case RunMode::Classic: break;
  }
  return kExitOk;
}

bool isQuestion(RunMode mode) {
  return mode != RunMode::Restore && mode != RunMode::Classic && mode != RunMode::Set && mode != RunMode::Batch &&
         mode != RunMode::StableNames;
}

// --tsv without -p or -x only reads (since 1.2): a question too, so an
// ordinary user's completion can list the entries of a file they can read.
bool onlyReads(const LongOptions& options, const AdminContext& context) {
  return options.mode == RunMode::Classic && options.tsv && context.command == AdminCommand::List;
}

int readListing(const AdminContext& context, const LongOptions& options) {
  if (giveUpSetUserId() != 0) return kExitFileError;
  return runClassic(context, options);
}

}  // namespace

int runAdmin(int argc, const char* const* argv) {
  rememberCaller();
  openClosedStandardDescriptors();
  // First of all, whatever the options: nothing below may see what a
  // set-user-ID caller put in the environment.
  forgetCallersEnvironment();
  ::signal(SIGPIPE, SIG_IGN);
  const ParsedCommandLine parsed = parseCommandLine(argc, argv);
  if (!parsed.usable) {
    std::fprintf(stderr, "zorvadmin: %s\n", parsed.problem.c_str());
    printUsage(stderr);
    return kExitRefused;
  }
  const LongOptions& options = parsed.options;
  if (isQuestion(options.mode)) return closeStandardOutput(answerQuestion(options));
  AdminContext context;
  parseOptions(static_cast<int>(parsed.classicArguments.size()), parsed.classicArguments.data(), context);
  if (onlyReads(options, context)) return closeStandardOutput(readListing(context, options));
  if (::geteuid() != 0) {
    std::fprintf(stderr, "This Command must be run as root\n");
    return kExitNotRoot;
  }
  // From here on the run may hold the lock: a set-user-ID caller loses the
  // right to stop or kill it.
  if (shutOutCaller() != 0) return kExitFileError;
  ::umask(022);  // every file the run creates gets its mode explicitly
  removeNewFilesOnSignals();
  if (options.mode == RunMode::Restore) return closeStandardOutput(restoreBackup(options));
  if (options.mode == RunMode::Set) return closeStandardOutput(runSet(options));
  if (options.mode == RunMode::Batch) return closeStandardOutput(runBatch(options));
  if (options.mode == RunMode::StableNames) return closeStandardOutput(runStableNames(options));
  if (argc == 1) printUsage(stdout);
  return closeStandardOutput(runClassic(context, options));
}

}  // namespace zorv
