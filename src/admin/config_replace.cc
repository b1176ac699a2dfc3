#include "admin/config_replace.h"

#include <signal.h>

#include <optional>

#include "admin/preview.h"
#include "admin/run.h"

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
  return current.valid() && file.compareWith(current.get()) == Comparison::Same;
}

int replaceWithRewrite(const ConfigFiles& files, const RewriteRequest& request, QueueDirectory& queues,
                       ConfigContent& shown, const ChangeLines& lines) {
  std::optional<NewFile> created = createNewConfig(files);
  if (!created) return kExitFileError;
  NewFile& file = *created;
  ConfigRead rewrite =
      rewriteConfig(files, request, queues, [&file](std::string_view bytes) { return file.write(bytes); });
  if (rewrite.result != PassResult::Ok) return exitStatusFor(rewrite.result);
  shown = std::move(rewrite.content);
  // A rewrite that changes no byte leaves the configuration and its backup as they are.
  if (sameAsConfiguration(file, files)) return kExitOk;
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

int exitStatusFor(PassResult result) {
  switch (result) {
    case PassResult::Ok: return kExitOk;
    case PassResult::Refused: return kExitRefused;
    case PassResult::FileError: return kExitFileError;
  }
  return kExitFileError;
}

int rewriteConfiguration(const ConfigFiles& files, const RewriteRequest& request, QueueDirectory& queues,
                         Replacing replacing, ConfigContent& shown, const ChangeLines& lines) {
  if (replacing == Replacing::Replace) return replaceWithRewrite(files, request, queues, shown, lines);
  // Only a preview shows the bytes: a change that changes nothing keeps none.
  std::string content;
  const bool shows = replacing == Replacing::Preview;
  ConfigRead rewrite = rewriteConfig(files, request, queues, [&content, shows](std::string_view bytes) {
    if (shows) content += bytes;
    return 0;
  });
  if (rewrite.result != PassResult::Ok) return exitStatusFor(rewrite.result);
  shown = std::move(rewrite.content);
  if (replacing == Replacing::NothingToChange) return kExitOk;
  return printPreview(files.config, content) == 0 ? kExitOk : kExitFileError;
}

}  // namespace zorv
