#include "admin/stable_names_command.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>

#include "admin/change_log.h"
#include "admin/config_replace.h"
#include "admin/device_path.h"
#include "admin/device_survey.h"
#include "admin/edit_change.h"
#include "admin/run.h"
#include "devices/device_id.h"
#include "devices/printer_devices.h"
#include "io/text_field.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

void warnLeft(const PrinterEntry& entry, const char* why) {
  std::fprintf(stderr, "zorvadmin: warning: %s: the device path %s %s; left as it is\n",
               shownText(entry.spooler.view()).c_str(), shownDevicePath(entry.devicePath.view()).c_str(), why);
}

const PrinterDevice* printerAt(const std::vector<PrinterDevice>& devices, std::string_view path) {
  const std::optional<dev_t> number = characterDeviceNumber(std::string(path));
  if (!number) return nullptr;
  for (const PrinterDevice& device : devices) {
    if (device.number == *number) return &device;
  }
  return nullptr;
}

// A name that may lead to another printer after the next plug or event:
// the kernel's, or a by-id name another present printer claims too.
bool canMove(const PrinterDevice& device, const std::string& path) {
  return path == device.node || (stableKind(path) == StableKind::ById && !isStableLink(device, path));
}

// The stable name an entry moves to; empty when it stays.
std::string targetOf(const PrinterEntry& entry, const std::vector<PrinterDevice>& devices) {
  const std::string path(entry.devicePath.view());
  const PrinterDevice* device = printerAt(devices, path);
  if (device == nullptr) {
    warnLeft(entry, "leads to no printer present");
    return {};
  }
  if (!canMove(*device, path)) return {};
  std::string stable = stableName(*device);
  if (stable.empty()) warnLeft(entry, ("leads to " + describePrinter(*device) + ", which has no stable name").c_str());
  return stable == path ? std::string() : stable;
}

int migrateUnderLock(const LongOptions& options, const ConfigFiles& files) {
  CupsQueueDirectory scheduler;
  AskedQueues queues(scheduler);
  // Every entry moves, not only the table's; the listing shows the table.
  LockedReadRequest request{options.dryRun ? RunKind::Preview : RunKind::Change, EntryKeeping::All, {}, {}, {}};
  LockedRead locked;
  if (const int status = readUnderLock(files, queues, request, locked); status != kExitOk) return status;
  const PrinterDeviceScan scan = findPrinterDevices();
  if (scan.error != 0) {
    reportProblem("cannot survey the printer devices: %s; nothing changed", std::strerror(scan.error));
    return kExitFileError;
  }
  std::vector<std::string> owned;  // the edits' strings
  owned.reserve(2 * locked.read.content.entries.size());
  std::set<std::string> moved;  // folded queues
  EditList list;
  for (const PrinterEntry& entry : locked.read.content.entries) {
    if (entry.devicePathLine == 0 || moved.count(foldedQueueName(entry.spooler.view())) != 0) continue;
    std::string target = targetOf(entry, scan.devices);
    if (target.empty()) continue;
    moved.insert(foldedQueueName(entry.spooler.view()));
    owned.push_back(scheduler.spelling(entry.spooler.view()));
    ConfigEdit edit;
    edit.queue = owned.back();
    owned.push_back(std::move(target));
    edit.device = owned.back();
    list.edits.push_back(edit);
    list.labels.push_back(std::string(entry.spooler.view()) + ": ");
  }
  if (!options.tsv) {
    std::vector<PrinterEntry>& entries = locked.read.content.entries;
    if (entries.size() > static_cast<std::size_t>(kMaxEntries)) entries.resize(kMaxEntries);
  }
  return commitEditList(files, list, options, queues, locked);
}

}  // namespace

int runStableNames(const LongOptions& options) {
  const ConfigFiles files = configFilesFromEnvironment();
  int status = checkLinksFollowed(files) != 0 ? kExitFileError : kExitOk;
  if (status == kExitOk) status = migrateUnderLock(options, files);
  if (status != kExitOk && !options.dryRun && !commitFailureLogged()) {
    logRefusal("%s could not move the entries of %s to stable names: %s", invokingPerson().c_str(),
               auditQuoted(files.config).c_str(), std::string(lastProblem()).c_str());
  }
  return status;
}

}  // namespace zorv
