#include "admin/json_output.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>

#include "devices/device_id.h"
#include "io/escaping.h"

namespace zorv {
namespace {

// Members in the order the manual page shows them.
using Json = nlohmann::ordered_json;

constexpr int kFormat = 1;

std::string text(std::string_view raw) { return escaped(raw, Escaping::JsonString); }

// A finding's text as --check prints it (the escaping of a device path in
// it kept), with bytes that are not valid UTF-8 as \xNN.
std::string findingText(std::string_view raw) {
  return escaped(escaped(raw, Escaping::TerminalText), Escaping::DiffText);
}

// Every string is valid UTF-8 by then; should one not be, a replacement
// character is better than no document.
void printDocument(const Json& document) {
  const std::string out = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
}

Json settingsOf(const ConfigSettings& settings) {
  return {{"CUPS_ConfigPath", text(settings.cupsConfigPath.view())},
          {"LogDirectoryPath", text(settings.logDirectoryPath.view())},
          {"UI_Port", text(settings.uiPortText.view())}};
}

Json entriesOf(const ConfigContent& content, const SchedulerState& scheduler) {
  Json entries = Json::array();
  for (const PrinterEntry& entry : content.entries) {
    if (entry.state == EntryState::Deleted) continue;  // no longer in the file
    const std::string_view fifo = entry.fifoPath == kNoFifoPath ? "" : entry.fifoPath.view();
    entries.push_back({{"queue", text(entry.spooler.view())},
                       {"device_path", text(entry.devicePath.view())},
                       {"backend", text(entry.backend.view())},
                       {"fifo", text(fifo)},
                       {"state", tsvEntryState(entry, scheduler.asked(entry.spooler.view()))}});
  }
  return entries;
}

// An entry record of --devices --tsv, field by field: queue, device path,
// node, the queue's CUPS make and model, verdict.
std::array<std::string, 5> entryFields(const DeviceSurvey& survey, const EntryDevice& entry) {
  return {escapeText(entry.entry->spooler.view()), escapeText(entry.entry->devicePath.view()),
          entry.device ? escapeText(survey.devices[*entry.device].node) : "", shownText(entry.makeAndModel),
          verdictWord(entry)};
}

Json entryObject(const std::array<std::string, 5>& fields) {
  return {{"queue", fields[0]},
          {"device_path", fields[1]},
          {"node", fields[2]},
          {"cups_make_and_model", fields[3]},
          {"verdict", fields[4]}};
}

Json deviceObject(const DeviceSurvey& survey, std::size_t index) {
  const PrinterDevice& device = survey.devices[index];
  const DeviceIdentity& id = device.identity;
  Json links = Json::array();
  for (const std::string& link : device.links) links.push_back(escapeText(link));
  Json entries = Json::array();
  for (const EntryDevice& entry : survey.entries) {
    if (entry.device == index) entries.push_back(entryObject(entryFields(survey, entry)));
  }
  return {{"node", escapeText(device.node)},
          {"kind", device.port == PrinterPort::Usb ? "usb" : "parallel"},
          {"port", escapeText(device.portPath)},
          {"make", shownText(id.make)},
          {"model", shownText(id.model)},
          {"serial", shownText(id.serial)},
          {"stable_name", escapeText(stableName(device))},
          {"stable_name_reason", serialState(device)},
          {"links", std::move(links)},
          {"entries", std::move(entries)}};
}

}  // namespace

void printListingDocument(ConfigContent* content, const SchedulerState& scheduler,
                          const std::optional<std::string>& diff) {
  Json document = {{"format", kFormat}};
  if (content != nullptr) {
    fillSpoolerColumns(*content, content->entries.size());
    document["settings"] = settingsOf(content->settings);
    document["entries"] = entriesOf(*content, scheduler);
  }
  if (diff) document["diff"] = escaped(*diff, Escaping::DiffText);
  printDocument(document);
}

void DevicesDocument::addAbsent(const EntryDevice& entry) { absent_.push_back(entryFields(survey_, entry)); }

void DevicesDocument::print() const {
  Json devices = Json::array();
  for (std::size_t i = 0; i < survey_.devices.size(); ++i) devices.push_back(deviceObject(survey_, i));
  Json absent = Json::array();
  for (const auto& fields : absent_) absent.push_back(entryObject(fields));
  printDocument({{"format", kFormat}, {"devices", std::move(devices)}, {"absent_entries", std::move(absent)}});
}

void printCheckDocument(const std::string& file, const std::vector<JsonFinding>& findings, int status) {
  constexpr std::string_view kWarning = "warning: ";
  Json list = Json::array();
  for (const JsonFinding& finding : findings) {
    std::string_view message = finding.message;
    // The severity has its own member.
    if (finding.warning && message.substr(0, kWarning.size()) == kWarning) message.remove_prefix(kWarning.size());
    list.push_back({{"file", findingText(file)},
                    {"line", finding.line},
                    {"severity", finding.warning ? "warning" : "error"},
                    {"message", findingText(message)}});
  }
  printDocument({{"format", kFormat}, {"file", findingText(file)}, {"status", status}, {"findings", std::move(list)}});
}

}  // namespace zorv
