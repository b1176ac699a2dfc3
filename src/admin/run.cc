#include "admin/run.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "admin/context.h"
#include "admin/listing.h"
#include "admin/options.h"
#include "config/config_files.h"
#include "config/config_pass.h"
#include "io/file_lock.h"
#include "io/new_file.h"
#include "io/text_field.h"
#include "spooler/cups_queue_directory.h"
#include "spooler/printers_conf_scan.h"

extern char** environ;

namespace zorv {
namespace {

constexpr int kLockTimeoutSeconds = 10;
constexpr std::size_t kMaxOperandBytes = kTextFieldSize - 1;

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
std::optional<NewFile> createNewConfig(const ConfigFiles& files) {
  FileDescriptor current = openForReading(files.config);
  if (!current.valid()) {
    reportFileError("open", files.config);
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

// The rewrite, then the new file into place; a rewrite that changes no
// byte leaves the configuration and its backup as they are.
int rewriteAndReplace(const AdminContext& context, const ConfigFiles& files, CupsQueueDirectory& queues,
                      bool fileHasBlock, ConfigContent& shown) {
  RewriteRequest request;
  request.mode = context.command == AdminCommand::Add ? RewriteMode::Add : RewriteMode::Remove;
  const std::string spelled = request.mode == RewriteMode::Add ? queues.spelling(context.printerName)
                                                               : std::string(context.printerName);
  request.queue = spelled;
  request.devicePath = context.devicePath;
  request.fileHasBlock = fileHasBlock;

  std::optional<NewFile> created = createNewConfig(files);
  if (!created) return kExitFileError;
  NewFile& file = *created;
  ConfigRewrite rewrite =
      rewriteConfig(files, request, queues, [&file](std::string_view bytes) { return file.write(bytes); });
  if (rewrite.result != PassResult::Ok) return exitStatusFor(rewrite.result);
  shown = std::move(rewrite.content);
  if (request.mode == RewriteMode::Remove && !rewrite.blockFound) {
    std::fprintf(stderr, "zorvadmin: %s has no entry in %s; nothing changed\n", spelled.c_str(), files.config.c_str());
  }
  if (sameAsConfiguration(file, files)) return kExitOk;
  if (file.commitKeepingBackup(files.config, {files.backup, files.backupTemporary}) != 0) return kExitFileError;
  return kExitOk;
}

// The backend and FIFO path columns, from CUPS's own printers.conf.
void fillSpoolerColumns(ConfigContent& content) {
  const std::string path = printersConfPath(content.settings.cupsConfigPath.view());
  for (std::size_t i = 0; i < content.entries.size() && i < kMaxEntries; ++i) {
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

int runWithContext(AdminContext& context, int argc, const char* const* argv) {
  if (argc == 1) printUsage();
  parseOptions(argc, argv, context);
  if (const int status = checkOperandShape(context); status != kExitOk) return status;

  const ConfigFiles files = configFilesFromEnvironment();
  CupsQueueDirectory queues;
  // Asked before the lock is taken: a slow scheduler never holds other runs.
  queues.fetchLocalDestinations();
  // Held until the run ends, so two runs never interleave their passes.
  FileDescriptor lock;
  const LockMode lockMode = context.command == AdminCommand::List ? LockMode::Shared : LockMode::Exclusive;
  if (lockFile(files.lock, lockMode, kLockTimeoutSeconds, lock) != 0) return kExitFileError;

  ConfigRead read =
      readConfig(files, queues, EntryKeeping::TableOnly, MissingFile::CreateDefault, context.printerName);
  if (read.result != PassResult::Ok) return exitStatusFor(read.result);
  ConfigContent shown = std::move(read.content);
  if (context.command != AdminCommand::List) {
    if (const int status = checkOperandsWithCups(context, queues); status != kExitOk) return status;
    if (const int status = rewriteAndReplace(context, files, queues, read.blockFound, shown); status != kExitOk) {
      return status;
    }
  }
  fillSpoolerColumns(shown);
  printListing(shown);
  return kExitOk;
}

// A set-user-ID run takes nothing from its caller: no scheduler, client
// files or options picked by the caller's environment.
void forgetCallersEnvironment() {
  if (::getuid() == ::geteuid() && ::getgid() == ::getegid()) return;
  std::vector<std::string> names;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable = *entry;
    const std::string name(variable.substr(0, variable.find('=')));
    if (name.rfind("CUPS_", 0) == 0 || name == "IPP_PORT" || name == "LPDEST" || name == "PRINTER") {
      names.push_back(name);
    }
  }
  for (const std::string& name : names) ::unsetenv(name.c_str());
  const passwd* owner = ::getpwuid(::geteuid());
  ::setenv("HOME", owner != nullptr ? owner->pw_dir : "/", 1);
}

// A descriptor 0, 1 or 2 that is closed would be taken by the first file
// the run opens, and a listing or message would land in it.
void openClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd) std::abort();
  }
}

// Standard output is a file that can fail too: a listing that did not
// arrive is an error.
int closeStandardOutput(int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "zorvadmin: cannot write standard output: %s\n", std::strerror(errno));
  return kExitFileError;
}

}  // namespace

int runAdmin(int argc, const char* const* argv) {
  openClosedStandardDescriptors();
  ::signal(SIGPIPE, SIG_IGN);
  if (handleInformationalArgument(argc, argv)) return closeStandardOutput(kExitOk);
  if (::geteuid() != 0) {
    std::fprintf(stderr, "This Command must be run as root\n");
    return kExitNotRoot;
  }
  forgetCallersEnvironment();
  ::umask(022);  // every file the run creates gets its mode explicitly
  removeNewFilesOnSignals();
  AdminContext context;
  return closeStandardOutput(runWithContext(context, argc, argv));
}

}  // namespace zorv
