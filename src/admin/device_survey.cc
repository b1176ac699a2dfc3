#include "admin/device_survey.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "io/problem_report.h"
#include "spooler/queue_models.h"

namespace zorv {
namespace {

std::optional<std::size_t> deviceFor(const std::vector<PrinterDevice>& devices, std::string_view path) {
  const std::optional<dev_t> number = characterDeviceNumber(std::string(path));
  if (!number) return std::nullopt;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].number == *number) return i;
  }
  return std::nullopt;
}

void compareModels(DeviceSurvey& survey) {
  std::vector<std::string> queues;
  std::vector<EntryDevice*> asked;
  for (EntryDevice& entry : survey.entries) {
    if (!entry.device || survey.devices[*entry.device].identity.model.empty()) continue;
    queues.emplace_back(entry.entry->spooler.view());
    asked.push_back(&entry);
  }
  const QueueModels models = askQueueModels(queues);
  if (!models.answered) return;
  for (std::size_t i = 0; i < asked.size(); ++i) {
    EntryDevice& entry = *asked[i];
    entry.makeAndModel = models.models[i];
    entry.verdict = compareModel(survey.devices[*entry.device].identity.model, entry.makeAndModel);
  }
}

// Why an entry's path may lead to another printer tomorrow: the kernel's
// node, or a by-id name that other printers claim too; empty when it stays.
std::string movingName(const DeviceSurvey& survey, const EntryDevice& entry) {
  if (!entry.device) return {};
  const PrinterDevice& device = survey.devices[*entry.device];
  const std::string_view path = entry.entry->devicePath.view();
  if (path == device.node) return "is renumbered when printers come and go";
  for (const std::string& shared : device.sharedNames) {
    if (path == shared) return "is claimed by another printer too, and udev may give it to that one";
  }
  return {};
}

// The warning for a path that may move, with the stable name to use; empty
// when it stays or the printer has no stable name.
std::string betterName(const DeviceSurvey& survey, const EntryDevice& entry, std::string_view path) {
  const std::string why = movingName(survey, entry);
  if (why.empty()) return {};
  const std::string stable = stableName(survey.devices[*entry.device]);
  if (stable.empty()) return {};
  return std::string(path) + " " + why + "; " + escapeText(stable) + " names the same printer for good";
}

std::string otherModel(const DeviceSurvey& survey, const EntryDevice& entry) {
  return "leads to " + describePrinter(survey.devices[*entry.device]) + ", not " +
         escapeText(entry.entry->spooler.view()) + "'s CUPS make and model " + shownText(entry.makeAndModel);
}

int lineOf(const PrinterEntry& entry) { return entry.devicePathLine > 0 ? entry.devicePathLine : entry.line; }

}  // namespace

DeviceSurvey surveyDevices(const std::vector<PrinterEntry>& entries) {
  DeviceSurvey survey;
  PrinterDeviceScan scan = findPrinterDevices();
  survey.devices = std::move(scan.devices);
  survey.error = scan.error;
  for (const PrinterEntry& entry : entries) {
    survey.entries.push_back({&entry, deviceFor(survey.devices, entry.devicePath.view()), {}, ModelVerdict::Unknown});
  }
  compareModels(survey);
  return survey;
}

std::string surveyFailure(const DeviceSurvey& survey) {
  return std::string("cannot survey the printer devices: ") + std::strerror(survey.error);
}

std::string describePrinter(const PrinterDevice& device) {
  const DeviceIdentity& id = device.identity;
  std::string name = shownText(id.make);
  if (!id.model.empty()) name += (name.empty() ? "" : " ") + shownText(id.model);
  if (name.empty()) name = "a printer that does not say what it is";
  std::string details = id.serial.empty() ? "no serial" : "serial " + shownText(id.serial);
  if (!device.portPath.empty()) details += ", USB port " + escapeText(device.portPath);
  return name + " (" + details + ")";
}

std::vector<std::size_t> sharingPrinters(const DeviceSurvey& survey, std::size_t device) {
  std::vector<std::size_t> others;
  for (std::size_t i = 0; i < survey.devices.size(); ++i) {
    for (const std::string& name : survey.devices[device].sharedNames) {
      const std::vector<std::string>& theirs = survey.devices[i].sharedNames;
      if (i != device && std::find(theirs.begin(), theirs.end(), name) != theirs.end()) {
        others.push_back(i);
        break;
      }
    }
  }
  return others;
}

std::vector<DeviceWarning> deviceWarnings(const std::vector<PrinterEntry>& entries, bool& surveyed) {
  std::vector<DeviceWarning> warnings;
  surveyed = true;
  // No entry, nothing to tell about the printers.
  if (entries.empty()) return warnings;
  const DeviceSurvey survey = surveyDevices(entries);
  if (survey.error != 0) {
    reportAside(Aside::Warning, "%s", surveyFailure(survey).c_str());
    surveyed = false;
    return warnings;
  }
  std::map<std::size_t, const PrinterEntry*> firstOnDevice;
  for (const EntryDevice& entry : survey.entries) {
    if (!entry.device) continue;
    const PrinterEntry& config = *entry.entry;
    const std::string path = "the device path " + std::string(config.devicePath.view()) + " of " +
                             std::string(config.spooler.view());
    if (const std::string better = betterName(survey, entry, path); !better.empty()) {
      warnings.push_back({lineOf(config), "warning: " + better});
    }
    if (entry.verdict == ModelVerdict::Differs) {
      warnings.push_back({lineOf(config), "warning: " + path + " " + otherModel(survey, entry)});
    }
    const auto [first, isFirst] = firstOnDevice.emplace(*entry.device, &config);
    if (!isFirst) {
      warnings.push_back({lineOf(config), "warning: " + std::string(config.spooler.view()) +
                                              " leads to the same printer as " +
                                              std::string(first->second->spooler.view()) + " (line " +
                                              std::to_string(first->second->line) + ")"});
    }
  }
  return warnings;
}

void warnAboutPrinterIdentity(std::string_view queue, std::string_view devicePath, CupsQueueDirectory& queues) {
  if (devicePath.empty() || !queues.knows(queue)) return;
  std::vector<PrinterEntry> entries{freshEntry()};
  copyText(entries[0].spooler, queues.spelling(queue));
  copyText(entries[0].devicePath, devicePath);
  const DeviceSurvey survey = surveyDevices(entries);
  if (survey.error != 0) {
    reportAside(Aside::Warning, "%s", surveyFailure(survey).c_str());
    return;
  }
  const EntryDevice& entry = survey.entries[0];
  if (const std::string better = betterName(survey, entry, devicePath); !better.empty()) {
    reportAside(Aside::Warning, "%s", better.c_str());
  }
  if (entry.verdict == ModelVerdict::Differs) {
    reportAside(Aside::Warning, "%s %s", std::string(devicePath).c_str(), otherModel(survey, entry).c_str());
  }
}

const char* verdictWord(const EntryDevice& entry) {
  if (!entry.device) return "absent";
  switch (entry.verdict) {
    case ModelVerdict::Matches: return "matches";
    case ModelVerdict::Differs: return "differs";
    case ModelVerdict::Unknown: break;
  }
  return "unknown";
}

// shared-serial: another present printer claims one of its by-id names,
// which is what a serial in common means to udev.
const char* serialState(const PrinterDevice& device) {
  if (!device.sharedNames.empty()) return "shared-serial";
  return device.identity.serial.empty() ? "no-serial" : "own-serial";
}

}  // namespace zorv
