#include "admin/run.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "admin/commands.h"
#include "admin/context.h"
#include "admin/exit_status.h"
#include "admin/options.h"
#include "admin/process_guard.h"
#include "io/pending_files.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

// What the row asks of the process, then the command. A command that gives
// up a set-user-ID privilege opens nothing before; one that needs root may
// hold the lock, so a set-user-ID caller loses the right to stop or kill it.
int runCommand(const Command& command, const CommandRequest& request) {
  if (command.givesUpSetUserId) {
    if (giveUpSetUserId() != 0) return closeStandardOutput(kExitFileError);
    return closeStandardOutput(command.run(request));
  }
  if (command.needsRoot && ::geteuid() != 0) {
    reportProblemAsIs("This Command must be run as root");
    return kExitNotRoot;
  }
  if (shutOutCaller() != 0) return kExitFileError;
  ::umask(022);  // every file the run creates gets its mode explicitly
  removeNewFilesOnSignals();
  return closeStandardOutput(command.run(request));
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
    reportProblem("%s", parsed.problem.c_str());
    printRefusedUsage();
    return kExitRefused;
  }
  // The file named on the command line takes ZORV_CONF's place, and like it
  // counts for nothing in a set-user-ID run.
  if (!parsed.options.configFile.empty() && !runsSetUserId()) {
    ::setenv("ZORV_CONF", std::string(parsed.options.configFile).c_str(), 1);
  }
  AdminContext context;
  const int classicCount = static_cast<int>(parsed.classicArguments.size());
  parseOptions(classicCount, parsed.classicArguments.data(), context);
  for (const std::string& note : classicNotes(classicCount, parsed.classicArguments.data())) {
    reportAside(Aside::Warning, "%s", note.c_str());
  }
  const Command& command = commandFor(parsed.options, context);
  const CommandRequest request{parsed.options, context, argc == 1, command.mayCreateConfig};
  return runCommand(command, request);
}

}  // namespace zorv
