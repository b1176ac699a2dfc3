#include "admin/run.h"

#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "admin/context.h"
#include "admin/listing.h"
#include "admin/options.h"
#include "config/config_pass.h"
#include "config/file_safety.h"
#include "spooler/printers_conf_scan.h"

namespace zorv {
namespace {

constexpr int kLockTimeoutSeconds = 10;

void printUsage() {
  std::printf("\nUsage: \n");
  std::printf("  zorvadmin [-p Printer-name -o Printer-dev-path]\n");
  std::printf("  zorvadmin [-x Remove-Printer-name]\n\n");
}

void printHelp() {
  printUsage();
  std::printf("  -p QUEUE    add QUEUE, or change the device path of its entry; needs -o\n");
  std::printf("  -o DEVICE   the printer device path for -p, such as /dev/usb/lp0\n");
  std::printf("  -x QUEUE    remove the entry of QUEUE\n");
  std::printf("  --help      print this help and exit\n");
  std::printf("  --version   print the version and exit\n");
}

// Only these two exact arguments, alone, are informational; every other
// command line keeps its parsing.
bool handleInformationalArgument(int argc, const char* const* argv) {
  if (argc != 2) return false;
  const std::string_view argument = argv[1];
  if (argument == "--help") {
    printHelp();
    return true;
  }
  if (argument == "--version") {
    std::printf("zorvadmin %s\n", ZORV_VERSION);
    return true;
  }
  return false;
}

bool hasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// Operands that would write a broken file are refused before anything is read.
int checkOperandShape(const AdminContext& context) {
  if (context.command == AdminCommand::List) return kExitOk;
  if (context.printerName.empty()) {
    std::fprintf(stderr, "zorvadmin: the queue name must not be empty\n");
    return kExitRefused;
  }
  if (hasLineBreak(context.printerName.view())) {
    std::fprintf(stderr, "zorvadmin: the queue name must not contain a line break\n");
    return kExitRefused;
  }
  if (context.command == AdminCommand::Add && hasLineBreak(context.devicePath.view())) {
    std::fprintf(stderr, "zorvadmin: the device path must not contain a line break\n");
    return kExitRefused;
  }
  return kExitOk;
}

int checkOperandsWithCups(AdminContext& context) {
  if (context.command != AdminCommand::Add) return kExitOk;
  if (spoolerExists(context.spoolerQueues, context.printerName.c_str()) != 0) {
    std::printf("\n %s can't find in CUPS Spooler Entry!!\n\n", context.printerName.c_str());
    return kExitRefused;
  }
  if (context.devicePath.empty()) {
    std::printf("Please input -o [Printer Device Path]\n");
    return kExitRefused;
  }
  return kExitOk;
}

int exitStatusFor(PassResult result) {
  switch (result) {
    case PassResult::Ok: return kExitOk;
    case PassResult::Refused: return kExitRefused;
    case PassResult::FileError: return kExitFileError;
  }
  return kExitFileError;
}

// The rewrite pass, then the new file into place; on any failure before the
// rename the configuration stays as it was and no new file is left.
int rewriteConfig(AdminContext& context) {
  context.entryCount = 0;
  context.unlistedCount = 0;
  const PassResult result = runConfigPass(context, context.command);
  if (result != PassResult::Ok) return exitStatusFor(result);
  if (rotateConfigFiles(context.files) != 0) {
    ::unlink(context.files.newFile.c_str());
    return kExitFileError;
  }
  return kExitOk;
}

int runWithContext(AdminContext& context, int argc, const char* const* argv) {
  if (argc == 1) printUsage();
  parseOptions(argc, argv, context);
  if (const int status = checkOperandShape(context); status != kExitOk) return status;

  // Held until the run ends, so two runs never interleave their passes.
  const FileDescriptor lock = lockConfig(context.files.lock, kLockTimeoutSeconds);
  if (!lock.valid()) return kExitFileError;

  if (const PassResult read = runConfigPass(context, AdminCommand::List); read != PassResult::Ok) {
    return exitStatusFor(read);
  }
  if (context.command != AdminCommand::List) {
    if (const int status = checkOperandsWithCups(context); status != kExitOk) return status;
    if (const int status = rewriteConfig(context); status != kExitOk) return status;
  }
  for (int index = 0; index < context.entryCount; ++index) scanSpoolerConfig(context, index);
  printListing(&context);
  return kExitOk;
}

}  // namespace

int runAdmin(int argc, const char* const* argv) {
  if (handleInformationalArgument(argc, argv)) return kExitOk;
  if (::geteuid() != 0) {
    std::fprintf(stderr, "This Command must be run as root\n");
    return kExitNotRoot;
  }
  auto context = createContext(configFilesFromEnvironment());
  return runWithContext(*context, argc, argv);
}

}  // namespace zorv
