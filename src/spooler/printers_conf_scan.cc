#include "spooler/printers_conf_scan.h"

#include "config/file_safety.h"

namespace zorv {
namespace {

constexpr std::string_view kPrinterOpen = "<Printer";
constexpr std::string_view kDefaultPrinterOpen = "<DefaultPrinter";
constexpr std::string_view kPrinterClose = "</Printer>";
constexpr std::string_view kDefaultPrinterClose = "</DefaultPrinter>";
constexpr std::string_view kDeviceUri = "DeviceURI";

// True when an opening tag of either kind names this queue.
bool opensBlockFor(const Line& line, std::string_view tag, std::string_view queue) {
  const std::string_view name = keywordValue(line, tag);
  const auto close = name.rfind('>');
  return close != std::string_view::npos && name.substr(0, close) == queue;
}

void storeDeviceUri(PrinterEntry& entry, std::string_view uri) {
  const auto colon = uri.find(':');
  if (colon == std::string_view::npos) {
    copyText(entry.backend, uri);
    copyText(entry.fifoPath, "");
    return;
  }
  copyText(entry.backend, uri.substr(0, colon));
  copyText(entry.fifoPath, withoutPassword(uri.substr(colon + 1)));
}

}  // namespace

std::string printersConfPath(const TextField& cupsConfigPath) {
  std::string path = cupsConfigPath.empty() ? "/etc/cups/" : std::string(cupsConfigPath.view());
  if (path.back() != '/') path += '/';
  return path + "printers.conf";
}

std::string withoutPassword(std::string_view uriPath) {
  std::string path(uriPath);
  if (path.compare(0, 2, "//") != 0) return path;
  const auto authorityEnd = path.find('/', 2);
  const auto at = path.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd - 1);
  if (at == std::string::npos || at < 2) return path;
  const auto colon = path.find(':', 2);
  if (colon < at) path.erase(colon, at - colon);
  return path;
}

int parseSpoolerLine(AdminContext& context, int index, const Line& line, ScanState& state) {
  PrinterEntry* entry = entryAt(context, index);
  if (entry == nullptr) return 0;
  const std::string_view queue = entry->spooler.view();
  if (line.startsWith(kPrinterOpen)) {
    if (opensBlockFor(line, kPrinterOpen, queue)) state = ScanState::Printer;
  } else if (line.startsWith(kDefaultPrinterOpen)) {
    if (opensBlockFor(line, kDefaultPrinterOpen, queue)) state = ScanState::Printer;
  } else if (line.startsWith(kPrinterClose) || line.startsWith(kDefaultPrinterClose)) {
    state = ScanState::None;
  } else if (state == ScanState::Printer && line.startsWith(kDeviceUri)) {
    storeDeviceUri(*entry, keywordValue(line, kDeviceUri));
  }
  return 0;
}

int scanSpoolerConfig(AdminContext& context, int index) {
  FileDescriptor input = openForReading(printersConfPath(context.cupsConfigPath));
  if (!input.valid()) return -1;
  ScanState state = ScanState::None;
  const ReadResult result = readLines(input.get(), true, [&](const Line& line) {
    if (line.textLength > 0 && line.text[0] == '#') return 0;
    return parseSpoolerLine(context, index, line, state);
  });
  return result == ReadResult::EndOfFile ? 0 : -1;
}

}  // namespace zorv
