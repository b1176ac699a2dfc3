#include "admin/commands.h"

#include <array>
#include <cstdio>
#include <string>

#include "admin/batch_command.h"
#include "admin/change_command.h"
#include "admin/check.h"
#include "admin/get_command.h"
#include "admin/devices_command.h"
#include "admin/exit_status.h"
#include "admin/operands.h"
#include "admin/restore_command.h"
#include "admin/set_command.h"
#include "admin/stable_names_command.h"
#include "config/config_files.h"

namespace zorv {
namespace {

std::string checkedPath(const LongOptions& options) {
  if (!options.checkFile.empty()) return std::string(options.checkFile);
  return configFilesFromEnvironment().config;
}

int help(const CommandRequest&) {
  printHelp();
  return kExitOk;
}

int version(const CommandRequest&) {
  std::printf("zorvadmin %s\n", ZORV_VERSION);
  return kExitOk;
}

int check(const CommandRequest& request) {
  return checkConfig(checkedPath(request.options), request.options.strict, request.options.json);
}

int get(const CommandRequest& request) {
  const LongOptions& options = request.options;
  if (const int status = checkOperand("queue name", options.getQueue); status != kExitOk) return status;
  return printDevicePath(checkedPath(options), options.getQueue);
}

int devices(const CommandRequest& request) { return printDevices(request.options.tsv, request.options.json); }

int classic(const CommandRequest& request) {
  if (request.bare) printUsage(stdout);
  return runClassic(request.context, request.options, request.mayCreateConfig);
}

int restore(const CommandRequest& request) { return restoreBackup(request.options); }

int set(const CommandRequest& request) { return runSet(request.options); }

int batch(const CommandRequest& request) { return runBatch(request.options); }

int stableNames(const CommandRequest& request) { return runStableNames(request.options); }

// The questions need no root and get none; --tsv without -p or -x only
// reads (since 1.2), so an ordinary user's completion can list the entries
// of a file they can read.
constexpr std::array<Command, 13> kCommands = {{
    {"help", false, true, false, help},
    {"version", false, true, false, version},
    {"check", false, true, false, check},
    {"get", false, true, false, get},
    {"devices", false, true, false, devices},
    {"read", false, true, false, classic},  // --tsv alone
    {"list", true, false, true, classic},
    {"add", true, false, true, classic},     // -p, also to modify
    {"remove", true, false, true, classic},  // -x
    {"restore", true, false, false, restore},
    {"set", true, false, true, set},
    {"batch", true, false, true, batch},
    {"stable-names", true, false, true, stableNames},
}};

const Command& row(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return command;
  }
  return kCommands[0];
}

std::string_view classicName(const LongOptions& options, const AdminContext& context) {
  switch (context.command) {
    case AdminCommand::Add: return "add";
    case AdminCommand::Remove: return "remove";
    case AdminCommand::List: break;
  }
  return options.tsv ? "read" : "list";
}

std::string_view nameOf(const LongOptions& options, const AdminContext& context) {
  switch (options.mode) {
    case RunMode::Help: return "help";
    case RunMode::Version: return "version";
    case RunMode::Check: return "check";
    case RunMode::Get: return "get";
    case RunMode::Devices: return "devices";
    case RunMode::Restore: return "restore";
    case RunMode::Set: return "set";
    case RunMode::Batch: return "batch";
    case RunMode::StableNames: return "stable-names";
    case RunMode::Classic: break;
  }
  return classicName(options, context);
}

}  // namespace

const Command& commandFor(const LongOptions& options, const AdminContext& context) {
  return row(nameOf(options, context));
}

}  // namespace zorv
