#include "admin/config_replace.h"

#include <signal.h>

#include <optional>

#include "admin/exit_status.h"
#include "admin/preview.h"

namespace zorv {
namespace {

bool gCommitFailureLogged = false;

// The signals a caller may send to end a run, held back for as long as the
// object lives; the mask before is restored after.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
    ::sigprocmask(SIG_BLOCK, &held, &before_);
  }
  ~HeldSignals() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t before_{};
};

// The request reading input, the configuration already open, unless it
// has bytes of its own to rewrite.
RewriteRequest reading(const RewriteRequest& request, int input) {
  RewriteRequest read = request;
  if (read.inputFd < 0) read.inputFd = input;
  return read;
}

// The new file takes the configuration's owner, mode and attributes (of
// current, open on it) before anything is written to it.
std::optional<NewFile> createNewConfig(const ConfigFiles& files, int current) {
  NewFile file = NewFile::create(files.newFile, 0600);
  if (!file.valid() || file.takeAttributesOf(current) != 0) return std::nullopt;
  return std::optional<NewFile>(std::move(file));
}

int replaceWithRewrite(const ConfigFiles& files, const RewriteRequest& request, QueueDirectory& queues,
                       ConfigContent& shown, const ChangeLines& lines, int input) {
  // The configuration the read under the lock left open, or opened now: the
  // rewrite reads it, and the new file is compared with it.
  FileDescriptor opened;
  if (input < 0) {
    opened = openForReading(files.config);
    if (!opened.valid()) {
      reportFileError("open", files.config);
      return kExitFileError;
    }
    input = opened.get();
  }
  std::optional<NewFile> created = createNewConfig(files, input);
  if (!created) return kExitFileError;
  NewFile& file = *created;
  ConfigRead rewrite = rewriteConfig(files, reading(request, input), queues,
                                     [&file](std::string_view bytes) { return file.write(bytes); });
  if (rewrite.result != PassResult::Ok) return exitStatusFor(rewrite.result);
  shown = std::move(rewrite.content);
  // A rewrite that changes no byte leaves the configuration and its backup as they are.
  if (file.compareWith(input) == Comparison::Same) return kExitOk;
  return commitWithLines(file, files, lines) == 0 ? kExitOk : kExitFileError;
}

}  // namespace

int commitWithLines(NewFile& file, const ConfigFiles& files, const ChangeLines& lines) {
  const HeldSignals held;
  // The record first: a run that is killed after it may have made the
  // change, never without a line that says so.
  lines.made();
  if (file.commitKeepingBackup(files.config, {files.backup, files.backupTemporary}) == 0) return 0;
  lines.failed();
  gCommitFailureLogged = true;
  return -1;
}

bool commitFailureLogged() { return gCommitFailureLogged; }

int rewriteConfiguration(const ConfigFiles& files, const RewriteRequest& request, QueueDirectory& queues,
                         Replacing replacing, ConfigContent& shown, const ChangeLines& lines, int input) {
  if (replacing == Replacing::Replace) return replaceWithRewrite(files, request, queues, shown, lines, input);
  // Only a preview shows the bytes: a change that changes nothing keeps none.
  std::string content;
  const bool shows = replacing == Replacing::Preview;
  ConfigRead rewrite = rewriteConfig(files, reading(request, input), queues, [&content, shows](std::string_view bytes) {
    if (shows) content += bytes;
    return 0;
  });
  if (rewrite.result != PassResult::Ok) return exitStatusFor(rewrite.result);
  shown = std::move(rewrite.content);
  if (replacing == Replacing::NothingToChange) return kExitOk;
  return printPreview(files.config, content) == 0 ? kExitOk : kExitFileError;
}

}  // namespace zorv
