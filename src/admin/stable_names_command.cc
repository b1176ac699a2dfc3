#include "admin/stable_names_command.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <set>
#include <string>

#include "admin/change_log.h"
#include "admin/config_replace.h"
#include "admin/device_path.h"
#include "admin/device_survey.h"
#include "admin/edit_change.h"
#include "admin/exit_status.h"
#include "devices/device_id.h"
#include "devices/printer_devices.h"
#include "io/problem_report.h"
#include "io/text_field.h"

namespace zorv {
namespace {

void warnLeft(const PrinterEntry& entry, const char* why) {
  reportAside(Aside::Warning, "%s: the device path %s %s; left as it is", shownText(entry.spooler.view()).c_str(),
              shownDevicePath(entry.devicePath.view()).c_str(), why);
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

// The moves, found as the read under the lock meets each entry, so that no
// more than the listing's entries are held whatever the file's size.
struct Migration {
  const std::vector<PrinterDevice>* devices = nullptr;
  CupsQueueDirectory* scheduler = nullptr;
  std::deque<std::string> owned;  // the edits' strings, which stay where they are
  std::set<std::string> moved;    // folded queues
  EditList list;
  std::vector<PrinterEntry> listed;
  std::size_t listedMax = 0;

  void meet(const PrinterEntry& entry) {
    if (listed.size() < listedMax) listed.push_back(entry);
    if (entry.devicePathLine == 0 || moved.count(foldedQueueName(entry.spooler.view())) != 0) return;
    std::string target = targetOf(entry, *devices);
    if (target.empty()) return;
    moved.insert(foldedQueueName(entry.spooler.view()));
    ConfigEdit edit;
    edit.queue = owned.emplace_back(scheduler->spelling(entry.spooler.view()));
    edit.device = owned.emplace_back(std::move(target));
    list.edits.push_back(edit);
    list.labels.push_back(std::string(entry.spooler.view()) + ": ");
  }
};

int migrateUnderLock(const LongOptions& options, const ConfigFiles& files, bool& changed) {
  const PrinterDeviceScan scan = findPrinterDevices();
  if (scan.error != 0) {
    reportProblem("cannot survey the printer devices: %s; nothing changed", std::strerror(scan.error));
    return kExitFileError;
  }
  CupsQueueDirectory scheduler;
  AskedQueues queues(scheduler);
  Migration migration;
  migration.devices = &scan.devices;
  migration.scheduler = &scheduler;
  // A preview for scripts, and --json, lists every entry; a change's TSV
  // listing is read from the new file.
  const bool listsAll = options.dryRun || options.json;
  migration.listedMax = options.tsv ? (listsAll ? SIZE_MAX : 0) : static_cast<std::size_t>(kMaxEntries);
  const EntryStream stream = {[](const ConfigSettings&) {},
                              [&migration](const PrinterEntry& entry) { migration.meet(entry); }};
  // Every entry may move, not only the table's: every name is asked about.
  LockedReadRequest request{options.dryRun ? RunKind::Preview : RunKind::Change, EntryKeeping::All, {}, {}, {}};
  request.stream = &stream;
  LockedRead locked;
  if (const int status = readUnderLock(files, queues, request, locked); status != kExitOk) return status;
  locked.read.content.entries = std::move(migration.listed);
  return commitEditList(files, migration.list, options, queues, locked, changed);
}

}  // namespace

int runStableNames(const LongOptions& options) {
  const ConfigFiles files = configFilesFromEnvironment();
  int status = checkLinksFollowed(files) != 0 ? kExitFileError : kExitOk;
  bool changed = false;
  if (status == kExitOk) status = migrateUnderLock(options, files, changed);
  if (status != kExitOk && !options.dryRun && !changed && !commitFailureLogged()) {
    logRefusal("%s could not move the entries of %s to stable names: %s", invokingPerson().c_str(),
               auditQuoted(files.config).c_str(), std::string(lastProblem()).c_str());
  }
  return status;
}

}  // namespace zorv
