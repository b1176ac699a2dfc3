#include "admin/get_command.h"

#include <cstdio>
#include <optional>

#include "admin/exit_status.h"
#include "config/config_pass.h"
#include "config/queue_directory.h"
#include "io/escaping.h"
#include "io/problem_report.h"

namespace zorv {

int printDevicePath(const std::string& path, std::string_view queue) {
  const ConfigFiles files = configFilesFor(path);
  if (checkLinksFollowed(files) != 0) return kExitFileError;
  EveryQueueKnown queues;
  // The first block of the queue is all that is kept of the file.
  std::optional<std::string> devicePath;
  PassObserver observer;
  observer.entry = [&](const PrinterEntry& entry) {
    if (!devicePath && sameQueueName(entry.spooler.view(), queue)) devicePath = entry.devicePath.view();
  };
  const ConfigRead read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, &observer});
  if (read.result != PassResult::Ok) return kExitFileError;
  if (devicePath) {
    std::printf("%s\n", escaped(*devicePath, Escaping::TerminalText).c_str());
    return kExitOk;
  }
  reportProblem("%s has no entry in %s", std::string(queue).c_str(), path.c_str());
  return kExitRefused;
}

}  // namespace zorv
