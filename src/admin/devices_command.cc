#include "admin/devices_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "admin/device_survey.h"
#include "admin/exit_status.h"
#include "admin/json_output.h"
#include "config/config_files.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

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

// The device records, each with its links and entries.
void printTsvDevices(const DeviceSurvey& survey) {
  for (std::size_t i = 0; i < survey.devices.size(); ++i) {
    const PrinterDevice& device = survey.devices[i];
    const DeviceIdentity& id = device.identity;
    printRecord({"device", escapeText(device.node), device.port == PrinterPort::Usb ? "usb" : "parallel",
                 escapeText(device.portPath), shownText(id.make), shownText(id.model), shownText(id.serial),
                 escapeText(stableName(device)), serialState(device)});
    for (const std::string& link : device.links) printRecord({"link", escapeText(device.node), escapeText(link)});
    for (const EntryDevice& entry : survey.entries) {
      if (entry.device == i) printTsvEntry(survey, entry);
    }
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

// The serials may differ in what udev replaces in a by-id name ("A 1" and
// "A_1"), or the printers may say one thing and their USB descriptors
// another.
void printSharedNote(const DeviceSurvey& survey, std::size_t i) {
  const PrinterDevice& device = survey.devices[i];
  bool sameSerial = true;
  for (const std::size_t other : sharingPrinters(survey, i)) {
    sameSerial = sameSerial && survey.devices[other].identity.serial == device.identity.serial;
  }
  const std::string stable = stableName(device);
  std::printf(" Note         : %s, and a by-id name leads to only one of them; use %s\n",
              sameSerial ? "another printer reports the same serial"
                         : "another printer's serial gives the same by-id name",
              stable.empty() ? "the by-path name" : escapeText(stable).c_str());
}

void printDevice(const DeviceSurvey& survey, std::size_t i) {
  const PrinterDevice& device = survey.devices[i];
  std::printf(" Device       : %s (%s)\n", escapeText(device.node).c_str(),
              device.port == PrinterPort::Usb ? "USB" : "parallel port");
  std::printf(" Printer      : %s\n", describePrinter(device).c_str());
  const char* label = " Stable names : ";
  bool any = false;
  for (const std::string& link : device.links) {
    if (!isStableLink(device, link)) continue;
    std::printf("%s%s\n", label, escapeText(link).c_str());
    label = "                ";
    any = true;
  }
  if (!any) std::printf("%snone\n", label);
  if (!device.sharedNames.empty()) printSharedNote(survey, i);
  printEntryRows(survey, i);
  std::printf("\n");
}

void printTableDevices(const DeviceSurvey& survey) {
  if (survey.devices.empty()) std::printf(" No printer devices.\n\n");
  for (std::size_t i = 0; i < survey.devices.size(); ++i) printDevice(survey, i);
}

// Entries that lead to a printer are kept for the survey, up to this many;
// the others are printed as a second pass meets them.
constexpr std::size_t kMaxEntriesOnDevices = 4096;

std::vector<dev_t> deviceNumbers(const std::vector<PrinterDevice>& devices) {
  std::vector<dev_t> numbers;
  for (const PrinterDevice& device : devices) numbers.push_back(device.number);
  return numbers;
}

// The entries whose device path leads to a printer present now.
int entriesOnDevices(const ConfigFiles& files, std::vector<PrinterEntry>& kept) {
  const std::vector<dev_t> numbers = deviceNumbers(findPrinterDevices().devices);
  PassObserver observer;
  observer.entry = [&](const PrinterEntry& entry) {
    if (numbers.empty() || kept.size() >= kMaxEntriesOnDevices) return;
    const std::optional<dev_t> number = characterDeviceNumber(std::string(entry.devicePath.view()));
    if (number && std::find(numbers.begin(), numbers.end(), *number) != numbers.end()) kept.push_back(entry);
  };
  EveryQueueKnown queues;
  const ConfigRead read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, &observer});
  return read.result == PassResult::Ok ? kExitOk : kExitFileError;
}

// The entries that lead to no printer, in file order, streamed: the kept
// ones by the survey's word, the others as they are met.
class AbsentPrinter {
 public:
  // With a document, the entries join it; nothing is printed.
  AbsentPrinter(const DeviceSurvey& survey, bool tsv, DevicesDocument* document = nullptr)
      : survey_(survey), tsv_(tsv), document_(document) {}

  void meet(const PrinterEntry& entry) {
    if (next_ < survey_.entries.size() && survey_.entries[next_].entry->line == entry.line) {
      const EntryDevice& surveyed = survey_.entries[next_++];
      if (!surveyed.device) print(surveyed);
      return;
    }
    print({&entry, std::nullopt, {}, ModelVerdict::Unknown});
  }

  void finish() {
    if (any_ && !tsv_ && document_ == nullptr) std::printf("\n");
  }

 private:
  void print(const EntryDevice& entry) {
    if (document_ != nullptr) {
      document_->addAbsent(entry);
    } else if (tsv_) {
      printTsvEntry(survey_, entry);
    } else {
      std::printf(" %s%s\n", any_ ? "               " : "Not present  : ", entryText(entry).c_str());
    }
    any_ = true;
  }

  const DeviceSurvey& survey_;
  bool tsv_;
  DevicesDocument* document_;
  std::size_t next_ = 0;
  bool any_ = false;
};

}  // namespace

// Two passes, so that no more than the entries on present printers is held.
int printDevices(bool tsv, bool json) {
  const ConfigFiles files = configFilesFromEnvironment();
  struct stat info {};
  const bool exists = ::stat(files.config.c_str(), &info) == 0 || errno != ENOENT;
  std::vector<PrinterEntry> kept;
  if (exists && entriesOnDevices(files, kept) != kExitOk) return kExitFileError;
  const DeviceSurvey survey = surveyDevices(kept);
  // No device found is not the same as none there.
  if (survey.error != 0) {
    reportProblem("%s", surveyFailure(survey).c_str());
    return kExitFileError;
  }
  DevicesDocument document(survey);  // --json: printed whole at the end
  if (!json && tsv) printTsvDevices(survey);
  if (!json && !tsv) printTableDevices(survey);
  AbsentPrinter absent(survey, tsv, json ? &document : nullptr);
  if (exists) {
    PassObserver observer;
    observer.entry = [&absent](const PrinterEntry& entry) { absent.meet(entry); };
    EveryQueueKnown queues;
    const ConfigRead read = readConfig(files, queues, {EntryKeeping::All, MissingFile::IsAnError, {}, &observer});
    if (read.result != PassResult::Ok) return kExitFileError;
  }
  absent.finish();
  if (json) document.print();
  return kExitOk;
}

}  // namespace zorv
