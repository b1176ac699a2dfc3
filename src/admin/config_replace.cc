#include "admin/config_replace.h"

#include <optional>

#include "admin/preview.h"
#include "admin/run.h"
#include "io/new_file.h"

namespace zorv {
namespace {

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
                       ConfigContent& shown, const std::function<void()>& onReplaced) {
  std::optional<NewFile> created = createNewConfig(files);
  if (!created) return kExitFileError;
  NewFile& file = *created;
  ConfigRead rewrite =
      rewriteConfig(files, request, queues, [&file](std::string_view bytes) { return file.write(bytes); });
  if (rewrite.result != PassResult::Ok) return exitStatusFor(rewrite.result);
  shown = std::move(rewrite.content);
  // A rewrite that changes no byte leaves the configuration and its backup as they are.
  if (sameAsConfiguration(file, files)) return kExitOk;
  if (file.commitKeepingBackup(files.config, {files.backup, files.backupTemporary}) != 0) return kExitFileError;
  onReplaced();
  return kExitOk;
}

}  // namespace

int exitStatusFor(PassResult result) {
  switch (result) {
    case PassResult::Ok: return kExitOk;
    case PassResult::Refused: return kExitRefused;
    case PassResult::FileError: return kExitFileError;
  }
  return kExitFileError;
}

int rewriteConfiguration(const ConfigFiles& files, const RewriteRequest& request, QueueDirectory& queues,
                         Replacing replacing, ConfigContent& shown, const std::function<void()>& onReplaced) {
  if (replacing == Replacing::Replace) return replaceWithRewrite(files, request, queues, shown, onReplaced);
  std::string content;
  ConfigRead rewrite = rewriteConfig(files, request, queues, [&content](std::string_view bytes) {
    content += bytes;
    return 0;
  });
  if (rewrite.result != PassResult::Ok) return exitStatusFor(rewrite.result);
  shown = std::move(rewrite.content);
  if (replacing == Replacing::NothingToChange) return kExitOk;
  return printPreview(files.config, content) == 0 ? kExitOk : kExitFileError;
}

}  // namespace zorv
