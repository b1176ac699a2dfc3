#include "admin/check.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "admin/named_queues.h"
#include "admin/run.h"
#include "config/config_pass.h"
#include "io/file_descriptor.h"
#include "spooler/cups_queue_directory.h"
#include "spooler/printers_conf_scan.h"

namespace zorv {
namespace {

struct Finding {
  int line;
  std::string message;
  bool warning = false;
};

// Queue names need no scheduler for a lookup in the file itself.
class EveryQueue final : public QueueDirectory {
 public:
  bool knows(std::string_view) override { return true; }
};

bool isPortNumber(std::string_view text) {
  if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const int port = std::stoi(std::string(text));
  return port >= 1 && port <= 65535;
}

void checkSettings(const ConfigSettings& settings, std::vector<Finding>& findings) {
  if (!settings.hasPorts) findings.push_back({0, "no <Ports> line; an add has nowhere to put a new block"});
  if (settings.uiPortLine > 0 && !isPortNumber(settings.uiPortText.view())) {
    findings.push_back({settings.uiPortLine, "UI_Port is not a number from 1 to 65535"});
  }
  const std::string printersConf = printersConfPath(settings.cupsConfigPath.view());
  FileDescriptor readable = openForReading(printersConf);
  if (!readable.valid()) {
    findings.push_back({settings.cupsConfigPathLine, "CUPS_ConfigPath: no readable " + printersConf});
  }
}

void checkDevice(const PrinterEntry& entry, std::vector<Finding>& findings) {
  const int line = entry.devicePathLine > 0 ? entry.devicePathLine : entry.line;
  const std::string queue(entry.spooler.view());
  const std::string device(entry.devicePath.view());
  if (device.empty() || device[0] != '/') {
    findings.push_back({line, "the device path \"" + device + "\" of " + queue + " is not absolute"});
    return;
  }
  if (const char* problem = deviceProblem(device)) {
    findings.push_back({line, "warning: the device path " + device + " of " + queue + " " + problem, true});
  }
}

void checkEntries(const ConfigContent& content, const CupsQueueDirectory& queues, std::vector<Finding>& findings) {
  std::map<std::string, int> firstLines;
  int blocks = 0;
  for (const PrinterEntry& entry : content.entries) {
    const std::string queue(entry.spooler.view());
    if (++blocks == kMaxEntries + 1) {
      findings.push_back({entry.line, "more than " + std::to_string(kMaxEntries) + " printer blocks; the table holds " +
                                          std::to_string(kMaxEntries)});
    }
    const auto [first, isFirst] = firstLines.emplace(foldedQueueName(queue), entry.line);
    if (!isFirst) {
      findings.push_back({entry.line, "a second block for " + queue + "; the first is at line " +
                                          std::to_string(first->second)});
    }
    if (entry.unknownQueue && queues.reachable()) {
      findings.push_back({entry.line, "the CUPS scheduler knows no queue " + queue});
    }
    checkDevice(entry, findings);
  }
}

}  // namespace

const char* deviceProblem(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "does not exist";
  return S_ISCHR(info.st_mode) ? nullptr : "is not a character device";
}

int checkConfig(const std::string& path) {
  const ConfigFiles files = configFilesFor(path);
  CupsQueueDirectory queues;
  queues.lookUp(namedQueues(files.config, SIZE_MAX));
  std::vector<LineFinding> lineFindings;
  const ConfigRead read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, &lineFindings});
  if (read.result != PassResult::Ok) return kExitFileError;

  std::vector<Finding> findings;
  for (const LineFinding& finding : lineFindings) findings.push_back({finding.line, finding.message});
  checkSettings(read.content.settings, findings);
  checkEntries(read.content, queues, findings);
  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) { return a.line < b.line; });
  bool wrong = false;
  for (const Finding& finding : findings) {
    std::printf("%s:%d: %s\n", path.c_str(), finding.line, finding.message.c_str());
    wrong = wrong || !finding.warning;
  }
  return wrong ? kExitRefused : kExitOk;
}

int printDevicePath(const std::string& path, std::string_view queue) {
  const ConfigFiles files = configFilesFor(path);
  EveryQueue queues;
  const ConfigRead read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, nullptr});
  if (read.result != PassResult::Ok) return kExitFileError;
  for (const PrinterEntry& entry : read.content.entries) {
    if (!sameQueueName(entry.spooler.view(), queue)) continue;
    std::printf("%s\n", entry.devicePath.c_str());
    return kExitOk;
  }
  std::fprintf(stderr, "zorvadmin: %s has no entry in %s\n", std::string(queue).c_str(), path.c_str());
  return kExitRefused;
}

}  // namespace zorv
