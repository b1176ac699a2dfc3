#include "admin/devices_command.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "admin/device_survey.h"
#include "admin/run.h"
#include "config/config_files.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

// Queue names need no scheduler here: only the make and model are asked.
class EveryQueue final : public QueueDirectory {
 public:
  bool knows(std::string_view) override { return true; }
};

const char* verdictWord(const EntryDevice& entry) {
  if (!entry.device) return "absent";
  switch (entry.verdict) {
    case ModelVerdict::Matches: return "matches";
    case ModelVerdict::Differs: return "differs";
    case ModelVerdict::Unknown: break;
  }
  return "unknown";
}

const char* serialState(const DeviceSurvey& survey, std::size_t device) {
  if (survey.devices[device].identity.serial.empty()) return "no-serial";
  return survey.serialShared[device] ? "shared-serial" : "own-serial";
}

// Fields arrive escaped.
void printRecord(std::initializer_list<std::string> fields) {
  const char* separator = "";
  for (const std::string& field : fields) {
    std::printf("%s%s", separator, field.c_str());
    separator = "\t";
  }
  std::printf("\n");
}

void printTsvEntry(const DeviceSurvey& survey, const EntryDevice& entry) {
  const std::string node = entry.device ? escapeText(survey.devices[*entry.device].node) : "";
  printRecord({"entry", escapeText(entry.entry->spooler.view()), escapeText(entry.entry->devicePath.view()), node,
               shownText(entry.makeAndModel), verdictWord(entry)});
}

void printTsv(const DeviceSurvey& survey) {
  for (std::size_t i = 0; i < survey.devices.size(); ++i) {
    const PrinterDevice& device = survey.devices[i];
    const DeviceIdentity& id = device.identity;
    printRecord({"device", escapeText(device.node), device.port == PrinterPort::Usb ? "usb" : "parallel",
                 escapeText(device.portPath), shownText(id.make), shownText(id.model), shownText(id.serial),
                 escapeText(stableName(device, survey.serialShared[i])), serialState(survey, i)});
    for (const std::string& link : device.links) printRecord({"link", escapeText(device.node), escapeText(link)});
    for (const EntryDevice& entry : survey.entries) {
      if (entry.device == i) printTsvEntry(survey, entry);
    }
  }
  for (const EntryDevice& entry : survey.entries) {
    if (!entry.device) printTsvEntry(survey, entry);
  }
}

std::string entryText(const EntryDevice& entry) {
  return escapeText(entry.entry->spooler.view()) + " (" + escapeText(entry.entry->devicePath.view()) + ")";
}

void printEntryRows(const DeviceSurvey& survey, std::size_t device) {
  bool any = false;
  for (const EntryDevice& entry : survey.entries) {
    if (entry.device != device) continue;
    const std::string cups = entry.makeAndModel.empty() ? "not known" : shownText(entry.makeAndModel);
    const char* verdict = entry.verdict == ModelVerdict::Matches   ? "matches"
                          : entry.verdict == ModelVerdict::Differs ? "differs"
                                                                   : "cannot be told";
    std::printf(" Entry        : %s; CUPS make and model: %s; the model %s\n", entryText(entry).c_str(), cups.c_str(),
                verdict);
    any = true;
  }
  if (!any) std::printf(" Entry        : none\n");
}

void printDevice(const DeviceSurvey& survey, std::size_t i) {
  const PrinterDevice& device = survey.devices[i];
  std::printf(" Device       : %s (%s)\n", escapeText(device.node).c_str(),
              device.port == PrinterPort::Usb ? "USB" : "parallel port");
  std::printf(" Printer      : %s\n", describePrinter(device).c_str());
  const char* label = " Stable names : ";
  for (const std::string& link : device.links) {
    std::printf("%s%s\n", label, escapeText(link).c_str());
    label = "                ";
  }
  if (device.links.empty()) std::printf("%snone\n", label);
  if (survey.serialShared[i]) {
    const std::string byPath = stableName(device, true);
    std::printf(" Note         : another printer reports the same serial, and a by-id name leads to only one of "
                "them; use %s\n", byPath.empty() ? "the by-path name" : escapeText(byPath).c_str());
  }
  printEntryRows(survey, i);
  std::printf("\n");
}

void printTable(const DeviceSurvey& survey) {
  if (survey.devices.empty()) std::printf(" No printer devices.\n\n");
  for (std::size_t i = 0; i < survey.devices.size(); ++i) printDevice(survey, i);
  bool any = false;
  for (const EntryDevice& entry : survey.entries) {
    if (entry.device) continue;
    std::printf(" %s%s\n", any ? "               " : "Not present  : ", entryText(entry).c_str());
    any = true;
  }
  if (any) std::printf("\n");
}

}  // namespace

int printDevices(bool tsv) {
  const ConfigFiles files = configFilesFromEnvironment();
  ConfigRead read;
  struct stat info {};
  if (::stat(files.config.c_str(), &info) == 0 || errno != ENOENT) {
    EveryQueue queues;
    read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, nullptr});
    if (read.result != PassResult::Ok) return kExitFileError;
  }
  const DeviceSurvey survey = surveyDevices(read.content.entries);
  // No device found is not the same as none there.
  if (survey.error != 0) {
    reportProblem("%s", surveyFailure(survey).c_str());
    return kExitFileError;
  }
  if (tsv) {
    printTsv(survey);
  } else {
    printTable(survey);
  }
  return kExitOk;
}

}  // namespace zorv
