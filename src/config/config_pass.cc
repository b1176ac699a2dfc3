#include "config/config_pass.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "config/config_format.h"
#include "config/pass_machine.h"
#include "config/setting_rewrite.h"
#include "io/file_descriptor.h"
#include "io/line_io.h"

namespace zorv {

// Anything but a missing file that may be created is a file error.
FileDescriptor openConfigInput(const ConfigFiles& files, MissingFile missing) {
  FileDescriptor input = openForReading(files.config);
  if (input.valid()) return input;
  if (errno != ENOENT || missing != MissingFile::CreateDefault) {
    reportFileError(errno == kNotRegularFile ? "read" : "open", files.config);
    return input;
  }
  if (writeDefaultConfig(files) != 0) return input;
  input = openForReading(files.config);
  if (!input.valid()) reportFileError("open", files.config);
  return input;
}

namespace {

// maxBytes, when not 0, bounds a file that never ends.
PassResult readThrough(const ConfigFiles& files, int inFd, ConfigPass& pass, std::uint64_t maxBytes = 0) {
  std::uint64_t bytes = 0;
  bool tooLong = false;
  const ReadResult read = readLines(inFd, [&](const Line& line) {
    bytes += static_cast<std::uint64_t>(line.lineLength);
    tooLong = maxBytes != 0 && bytes > maxBytes;
    return tooLong ? 1 : pass.handleLine(line);
  });
  if (read == ReadResult::ReadFailed || tooLong) {
    if (tooLong) errno = EFBIG;
    reportFileError("read", files.config);
    return PassResult::FileError;
  }
  return pass.finish();
}

}  // namespace

FileDescriptor reopenFromStart(const ConfigFiles& files, int fd) {
  FileDescriptor copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!copy.valid() || ::lseek(copy.get(), 0, SEEK_SET) != 0) {
    reportFileError("read", files.config);
    return FileDescriptor();
  }
  return copy;
}

PrinterEntry freshEntry() {
  PrinterEntry entry;
  copyText(entry.fifoPath, kNoFifoPath);
  return entry;
}

const char* statusWord(const PrinterEntry& entry) {
  switch (entry.state) {
    case EntryState::New: return "New!!";
    case EntryState::Modified: return "Modified";
    case EntryState::Deleted: return "Delete";
    case EntryState::AsRead: break;
  }
  return entry.unknownQueue ? "invalid Spool Name" : "";
}

namespace {

ConfigRead runPass(const ConfigFiles& files, QueueDirectory& queues, PassSetup setup, MissingFile missing,
                   std::uint64_t maxBytes, int given = -1) {
  ConfigRead read;
  FileDescriptor opened;
  if (given < 0) opened = openConfigInput(files, missing);
  if (given < 0 && !opened.valid()) {
    read.result = PassResult::FileError;
    return read;
  }
  ConfigPass pass(files, queues, std::move(setup));
  read.result = readThrough(files, given < 0 ? opened.get() : given, pass, maxBytes);
  read.content = std::move(pass.content());
  read.blockFound = pass.blockFound();
  read.queueBlocks = std::move(pass.queueBlocks());
  read.input = std::move(opened);
  return read;
}

}  // namespace

ConfigRead readConfig(const ConfigFiles& files, QueueDirectory& queues, const ReadOptions& options) {
  PassSetup setup;
  setup.keeping = options.keeping;
  setup.queue = options.queue;
  setup.observer = options.observer;
  return runPass(files, queues, std::move(setup), options.missing, options.maxBytes, options.input);
}

ConfigRead rewriteConfig(const ConfigFiles& files, const RewriteRequest& request, QueueDirectory& queues,
                         const ByteSink& output) {
  if (request.mode == RewriteMode::SetValue) return rewriteSetting(files, request, output);
  PassSetup setup;
  setup.mode = PassMode::Rewrite;
  setup.keeping = request.keeping;
  setup.queue = request.queue;
  setup.request = request;
  setup.output = output;
  if (request.inputFd < 0) return runPass(files, queues, std::move(setup), MissingFile::IsAnError, 0);
  const FileDescriptor input = reopenFromStart(files, request.inputFd);
  if (!input.valid()) {
    ConfigRead failed;
    failed.result = PassResult::FileError;
    return failed;
  }
  return runPass(files, queues, std::move(setup), MissingFile::IsAnError, 0, input.get());
}

namespace {

// Answers every name, and remembers each name asked once, up to a cap.
class NameRecorder final : public QueueDirectory {
 public:
  explicit NameRecorder(std::size_t maxNames) : maxNames_(maxNames) {}
  bool knows(std::string_view queue) override {
    if (names.size() < maxNames_ && seen_.insert(foldedQueueName(queue)).second) names.emplace_back(queue);
    return true;
  }
  std::vector<std::string> names;

 private:
  std::size_t maxNames_;
  std::set<std::string> seen_;
};

}  // namespace

QueueNames queueNamesIn(const ConfigFiles& files, EntryKeeping keeping, std::size_t maxNames) {
  FileDescriptor input = openForReading(files.config);
  NameRecorder recorder(maxNames);
  if (!input.valid()) return {};
  PassObserver keepNothing;  // the names are all it needs of the blocks
  keepNothing.entry = [](const PrinterEntry&) {};
  PassSetup setup;
  setup.keeping = keeping;
  setup.observer = &keepNothing;
  ConfigPass pass(files, recorder, std::move(setup));
  readLines(input.get(), [&pass](const Line& line) { return pass.handleLine(line); });
  return {std::move(recorder.names), std::string(pass.content().settings.cupsConfigPath.view())};
}

SettingValue settingValueOf(const ConfigSettings& settings, std::string_view key) {
  if (key == keyword::kUiPort) return {std::string(settings.uiPortText.view()), settings.uiPortLine > 0};
  if (key == keyword::kLogDirectoryPath) {
    return {std::string(settings.logDirectoryPath.view()), settings.logDirectoryPathLine > 0};
  }
  return {std::string(settings.cupsConfigPath.view()), settings.cupsConfigPathLine > 0};
}

void setSettingValue(ConfigSettings& settings, std::string_view key, std::string_view value) {
  if (key == keyword::kUiPort) {
    copyText(settings.uiPortText, value);
    settings.uiPort = leadingNumber(value);
  } else if (key == keyword::kLogDirectoryPath) {
    copyText(settings.logDirectoryPath, value);
  } else {
    copyText(settings.cupsConfigPath, value);
  }
}

}  // namespace zorv
