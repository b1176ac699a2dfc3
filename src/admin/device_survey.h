// Which printer each configuration entry leads to: entries matched to the
// printer devices present by the device number their path leads to, and
// each queue's CUPS make and model compared with the printer's own model.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_pass.h"
#include "devices/printer_devices.h"
#include "spooler/cups_queue_directory.h"

namespace zorv {

struct EntryDevice {
  const PrinterEntry* entry = nullptr;
  std::optional<std::size_t> device;  // index into DeviceSurvey::devices; none when no printer is there
  std::string makeAndModel;           // the queue's, from CUPS; empty when not known
  ModelVerdict verdict = ModelVerdict::Unknown;
};

struct DeviceSurvey {
  std::vector<PrinterDevice> devices;
  std::vector<EntryDevice> entries;  // in file order
  int error = 0;                     // errno of a survey that could not be made: no device, every entry absent
};

// "cannot survey the printer devices: REASON" for a survey that failed.
std::string surveyFailure(const DeviceSurvey& survey);

// The scheduler is asked, once, only for the queues whose entries lead to a
// printer that reports a model.
DeviceSurvey surveyDevices(const std::vector<PrinterEntry>& entries);

// "Zorv ZPR4410 (serial 0042, USB port 1-2)", escaped for a terminal.
std::string describePrinter(const PrinterDevice& device);

// The words of --devices for scripts: an entry's verdict (matches,
// differs, unknown, or absent when no printer is there), and how a
// printer's stable name was chosen (own-serial, shared-serial: another
// present printer claims one of its by-id names, no-serial).
const char* verdictWord(const EntryDevice& entry);
const char* serialState(const PrinterDevice& device);

struct DeviceWarning {
  int line;
  std::string message;
};

// The other present printers that claim one of the device's by-id names.
std::vector<std::size_t> sharingPrinters(const DeviceSurvey& survey, std::size_t device);

// --check's warnings: a kernel name, or a by-id name another printer claims
// too, for which a stable name exists, a printer whose model differs from
// its queue's, two entries that lead to the same printer. A survey that
// fails is a warning on standard error, and surveyed false.
std::vector<DeviceWarning> deviceWarnings(const std::vector<PrinterEntry>& entries, bool& surveyed);

// -p's words on standard error when the device path is a kernel name, or a
// by-id name another printer claims too, with a stable name for the same
// printer, or leads to a printer of another model than the queue's, or when
// the printers cannot be surveyed. Nothing for a queue the scheduler does
// not know.
void warnAboutPrinterIdentity(std::string_view queue, std::string_view devicePath, CupsQueueDirectory& queues);

}  // namespace zorv
