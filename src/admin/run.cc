#include "admin/run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "admin/change_log.h"
#include "admin/check.h"
#include "admin/context.h"
#include "admin/listing.h"
#include "admin/named_queues.h"
#include "admin/options.h"
#include "admin/preview.h"
#include "admin/process_guard.h"
#include "config/config_files.h"
#include "config/config_pass.h"
#include "io/file_lock.h"
#include "io/line_io.h"
#include "io/new_file.h"
#include "io/text_field.h"
#include "spooler/cups_queue_directory.h"
#include "spooler/printers_conf_scan.h"

namespace zorv {
namespace {

constexpr int kLockTimeoutSeconds = 10;
constexpr std::size_t kMaxOperandBytes = kTextFieldSize - 1;

void printUsage(std::FILE* out = stdout) {
  std::fprintf(out, "\nUsage: \n");
  std::fprintf(out, "  zorvadmin [-p Printer-name -o Printer-dev-path]\n");
  std::fprintf(out, "  zorvadmin [-x Remove-Printer-name]\n\n");
}

void printHelp() {
  printUsage();
  std::printf("  -p QUEUE        add QUEUE, or change the device path of its entry; needs -o\n");
  std::printf("  -o DEVICE       the printer device path for -p, such as /dev/usb/lp0\n");
  std::printf("  -x QUEUE        remove the entry of QUEUE\n");
  std::printf("  --help          print this help and exit\n");
  std::printf("  --version       print the version and exit\n");
  std::printf("Long options come first, before -p, -o and -x:\n");
  std::printf("  --check [FILE]  check the configuration (or FILE) and change nothing (since 1.1)\n");
  std::printf("  --dry-run       with -p or -x: show the change as a diff and make none (since 1.1)\n");
  std::printf("  --tsv           list for scripts, tab-separated, every entry (since 1.1)\n");
  std::printf("  --get QUEUE     print the device path of QUEUE's entry (since 1.1)\n");
  std::printf("  --quiet         with -p or -x: no listing on success (since 1.1)\n");
  std::printf("  --restore       put the backup back; the configuration becomes the backup (since 1.1)\n");
}

int refuse(const char* what, const char* problem) {
  std::fprintf(stderr, "zorvadmin: the %s %s\n", what, problem);
  return kExitRefused;
}

// An operand is stored exactly or refused: it must fit a field and read
// back as the same value from the line it is written into.
int checkOperand(const char* what, std::string_view operand) {
  if (operand.find_first_of("\r\n") != std::string_view::npos) return refuse(what, "must not contain a line break");
  if (operand.size() > kMaxOperandBytes) return refuse(what, "is longer than 255 bytes");
  if (!operand.empty() && (operand[0] == ' ' || operand[0] == '\t' || operand[0] == ':')) {
    return refuse(what, "must not begin with a space, a tab or a colon");
  }
  return kExitOk;
}

// Operands that would write a broken file are refused before anything is read.
int checkOperandShape(const AdminContext& context) {
  if (context.command == AdminCommand::List) return kExitOk;
  if (context.printerName.empty()) return refuse("queue name", "must not be empty");
  if (const int status = checkOperand("queue name", context.printerName); status != kExitOk) return status;
  if (context.command != AdminCommand::Add) return kExitOk;
  return checkOperand("device path", context.devicePath);
}

int checkOperandsWithCups(const AdminContext& context, CupsQueueDirectory& queues) {
  if (context.command != AdminCommand::Add) return kExitOk;
  if (!queues.knows(context.printerName)) {
    std::printf("\n %s can't find in CUPS Spooler Entry!!\n\n", std::string(context.printerName).c_str());
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

// The new file takes the configuration's owner, mode and attributes before
// anything is written to it.
std::optional<NewFile> createNewConfig(const ConfigFiles& files, const std::string& from) {
  FileDescriptor current = openForReading(from);
  if (!current.valid()) {
    reportFileError("open", from);
    return std::nullopt;
  }
  NewFile file = NewFile::create(files.newFile, 0600);
  if (!file.valid() || file.takeAttributesOf(current.get()) != 0) return std::nullopt;
  return std::optional<NewFile>(std::move(file));
}

bool sameAsConfiguration(NewFile& file, const ConfigFiles& files) {
  FileDescriptor current = openForReading(files.config);
  return current.valid() && file.sameContentAs(current.get());
}

RewriteRequest requestFor(const AdminContext& context, const std::string& spelled, bool fileHasBlock) {
  RewriteRequest request;
  request.mode = context.command == AdminCommand::Add ? RewriteMode::Add : RewriteMode::Remove;
  request.queue = spelled;
  request.devicePath = context.devicePath;
  request.fileHasBlock = fileHasBlock;
  return request;
}

std::string previousDevicePath(const ConfigContent& before, std::string_view queue) {
  for (const PrinterEntry& entry : before.entries) {
    if (sameQueueName(entry.spooler.view(), queue)) return std::string(entry.devicePath.view());
  }
  return "(none)";
}

void logRewrite(const RewriteRequest& request, const ConfigFiles& files, const ConfigContent& before) {
  const std::string user(invokingUser());
  const std::string queue(request.queue);
  const std::string old = previousDevicePath(before, queue);
  if (request.mode == RewriteMode::Remove) {
    logChange("%s removed the entry of queue %s (device path %s) from %s", user.c_str(), queue.c_str(), old.c_str(),
              files.config.c_str());
  } else {
    logChange("%s set the device path of queue %s from %s to %s in %s", user.c_str(), queue.c_str(), old.c_str(),
              std::string(request.devicePath).c_str(), files.config.c_str());
  }
}

// --dry-run: the same rewrite into memory, shown as a diff.
int previewRewrite(const RewriteRequest& request, const ConfigFiles& files, CupsQueueDirectory& queues,
                   ConfigContent& shown) {
  std::string content;
  ConfigRewrite rewrite = rewriteConfig(files, request, queues, [&content](std::string_view bytes) {
    content += bytes;
    return 0;
  });
  if (rewrite.result != PassResult::Ok) return exitStatusFor(rewrite.result);
  shown = std::move(rewrite.content);
  return printPreview(files.config, content) == 0 ? kExitOk : kExitFileError;
}

// The rewrite, then the new file into place; a rewrite that changes no
// byte leaves the configuration and its backup as they are.
int rewriteAndReplace(const AdminContext& context, const ConfigFiles& files, CupsQueueDirectory& queues,
                      const LongOptions& options, const ConfigRead& read, ConfigContent& shown) {
  const std::string spelled =
      context.command == AdminCommand::Add ? queues.spelling(context.printerName) : std::string(context.printerName);
  const RewriteRequest request = requestFor(context, spelled, read.blockFound);
  if (options.dryRun) return previewRewrite(request, files, queues, shown);

  std::optional<NewFile> created = createNewConfig(files, files.config);
  if (!created) return kExitFileError;
  NewFile& file = *created;
  ConfigRewrite rewrite =
      rewriteConfig(files, request, queues, [&file](std::string_view bytes) { return file.write(bytes); });
  if (rewrite.result != PassResult::Ok) return exitStatusFor(rewrite.result);
  shown = std::move(rewrite.content);
  if (sameAsConfiguration(file, files)) return kExitOk;
  if (file.commitKeepingBackup(files.config, {files.backup, files.backupTemporary}) != 0) return kExitFileError;
  logRewrite(request, files, read.content);
  return kExitOk;
}

// The backend and FIFO path columns, from CUPS's own printers.conf.
void fillSpoolerColumns(ConfigContent& content, std::size_t rows) {
  const std::string path = printersConfPath(content.settings.cupsConfigPath.view());
  for (std::size_t i = 0; i < content.entries.size() && i < rows; ++i) {
    PrinterEntry& entry = content.entries[i];
    DeviceUriParts parts{entry.backend, entry.fifoPath};
    if (scanSpoolerConfig(path, entry.spooler.view(), parts) != 0) {
      // Unreadable like a missing file, but worth a word: it is not a file at all.
      if (errno != kNotRegularFile) continue;
      reportFileError("read", path);
      return;
    }
    entry.backend = parts.backend;
    entry.fifoPath = parts.fifoPath;
  }
}

void printResult(ConfigContent& content, const CupsQueueDirectory& queues, const LongOptions& options) {
  fillSpoolerColumns(content, options.tsv ? content.entries.size() : kMaxEntries);
  if (options.tsv) {
    printTsvListing(content, queues.reachable() ? SchedulerState::Reached : SchedulerState::Unreachable);
  } else {
    printListing(content);
  }
}

// A device path that is not a device yet is allowed (it may appear when the
// printer is plugged in), but worth a word.
void warnAboutDevice(std::string_view devicePath) {
  const std::string path(devicePath);
  if (const char* problem = deviceProblem(path)) {
    std::fprintf(stderr, "zorvadmin: warning: the device path %s %s\n", path.c_str(), problem);
  }
}

void noteNothingToRemove(const AdminContext& context, const ConfigFiles& files) {
  std::fprintf(stderr, "zorvadmin: %s has no entry in %s; nothing changed\n", std::string(context.printerName).c_str(),
               files.config.c_str());
}

// Asked before the lock is taken: a slow scheduler never holds other runs.
void lookUpNamedQueues(const AdminContext& context, const LongOptions& options, const ConfigFiles& files,
                       CupsQueueDirectory& queues) {
  std::vector<std::string> names = namedQueues(files.config, options.tsv ? SIZE_MAX : kMaxEntries);
  if (context.command == AdminCommand::Add) names.emplace_back(context.printerName);
  queues.lookUp(names);
}

int runClassic(AdminContext& context, const LongOptions& options) {
  if (const int status = checkOperandShape(context); status != kExitOk) return status;
  const ConfigFiles files = configFilesFromEnvironment();
  CupsQueueDirectory queues;
  lookUpNamedQueues(context, options, files, queues);
  // Held until the run ends, so two runs never interleave their passes.
  FileDescriptor lock;
  const LockMode lockMode = context.command == AdminCommand::List ? LockMode::Shared : LockMode::Exclusive;
  if (!options.dryRun && lockFile(files.lock, lockMode, kLockTimeoutSeconds, lock) != 0) return kExitFileError;
  const bool changing = context.command != AdminCommand::List && !options.dryRun;
  if (changing && finishInterruptedBackup(files.config, {files.backup, files.backupTemporary}) != 0) {
    return kExitFileError;
  }

  const EntryKeeping keeping = options.tsv ? EntryKeeping::All : EntryKeeping::TableOnly;
  const MissingFile missing = options.dryRun ? MissingFile::IsAnError : MissingFile::CreateDefault;
  ConfigRead read = readConfig(files, queues, {keeping, missing, context.printerName, nullptr});
  if (read.result != PassResult::Ok) return exitStatusFor(read.result);
  ConfigContent shown = read.content;
  if (context.command != AdminCommand::List) {
    if (const int status = checkOperandsWithCups(context, queues); status != kExitOk) return status;
    if (context.command == AdminCommand::Add) warnAboutDevice(context.devicePath);
    if (const int status = rewriteAndReplace(context, files, queues, options, read, shown); status != kExitOk) {
      return status;
    }
    if (context.command == AdminCommand::Remove && !read.blockFound) noteNothingToRemove(context, files);
    if (options.quiet) return kExitOk;
  }
  printResult(shown, queues, options);
  return kExitOk;
}

// --restore: the backup becomes the configuration and the configuration
// the backup, through the same durable steps as a rewrite.
int restoreBackup(const LongOptions& options) {
  const ConfigFiles files = configFilesFromEnvironment();
  FileDescriptor lock;
  if (lockFile(files.lock, LockMode::Exclusive, kLockTimeoutSeconds, lock) != 0 ||
      finishInterruptedBackup(files.config, {files.backup, files.backupTemporary}) != 0) {
    return kExitFileError;
  }
  FileDescriptor backup = openForReading(files.backup);
  if (!backup.valid()) {
    std::fprintf(stderr, "zorvadmin: cannot restore %s: no backup %s: %s\n", files.config.c_str(),
                 files.backup.c_str(), fileErrorText(errno));
    return kExitFileError;
  }
  std::optional<NewFile> created = createNewConfig(files, files.backup);
  if (!created || created->copyFrom(backup.get(), files.backup) != 0) return kExitFileError;
  if (created->commitKeepingBackup(files.config, {files.backup, files.backupTemporary}) != 0) return kExitFileError;
  logChange("%s restored %s from its backup", std::string(invokingUser()).c_str(), files.config.c_str());
  CupsQueueDirectory queues;
  const EntryKeeping keeping = options.tsv ? EntryKeeping::All : EntryKeeping::TableOnly;
  ConfigRead read = readConfig(files, queues, {keeping, MissingFile::IsAnError, {}, nullptr});
  if (read.result != PassResult::Ok) return exitStatusFor(read.result);
  if (!options.quiet) printResult(read.content, queues, options);
  return kExitOk;
}

std::string checkedPath(const LongOptions& options) {
  if (!options.checkFile.empty()) return std::string(options.checkFile);
  return configFilesFromEnvironment().config;
}

}  // namespace

int runAdmin(int argc, const char* const* argv) {
  openClosedStandardDescriptors();
  ::signal(SIGPIPE, SIG_IGN);
  const char* problem = "these options cannot go together";
  ParsedCommandLine parsed = parseCommandLine(argc, argv, &problem);
  if (!parsed.usable) {
    std::fprintf(stderr, "zorvadmin: %s\n", problem);
    printUsage(stderr);
    return kExitRefused;
  }
  const LongOptions& options = parsed.options;
  switch (options.mode) {
    case RunMode::Help: printHelp(); return closeStandardOutput(kExitOk);
    case RunMode::Version: std::printf("zorvadmin %s\n", ZORV_VERSION); return closeStandardOutput(kExitOk);
    // Questions that change nothing need no root.
    case RunMode::Check: return closeStandardOutput(checkConfig(checkedPath(options)));
    case RunMode::Get: return closeStandardOutput(printDevicePath(checkedPath(options), options.getQueue));
    case RunMode::Restore:
    case RunMode::Classic: break;
  }
  if (::geteuid() != 0) {
    std::fprintf(stderr, "This Command must be run as root\n");
    return kExitNotRoot;
  }
  forgetCallersEnvironment();
  ::umask(022);  // every file the run creates gets its mode explicitly
  removeNewFilesOnSignals();
  if (options.mode == RunMode::Restore) return closeStandardOutput(restoreBackup(options));
  if (argc == 1) printUsage();
  AdminContext context;
  parseOptions(static_cast<int>(parsed.classicArguments.size()), parsed.classicArguments.data(), context);
  return closeStandardOutput(runClassic(context, options));
}

}  // namespace zorv
