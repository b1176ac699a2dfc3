#include "spooler/printers_conf_scan.h"

#include "io/file_descriptor.h"

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
  return close != std::string_view::npos && sameQueueName(name.substr(0, close), queue);
}

void storeDeviceUri(DeviceUriParts& parts, std::string_view uri, UriText text) {
  const auto colon = uri.find(':');
  if (colon == std::string_view::npos) {
    copyText(parts.backend, uri);
    copyText(parts.fifoPath, "");
    return;
  }
  copyText(parts.backend, uri.substr(0, colon));
  copyText(parts.fifoPath, withoutPassword(uri.substr(colon + 1), text));
}

}  // namespace

std::string printersConfPath(std::string_view cupsConfigPath) {
  std::string path = cupsConfigPath.empty() ? "/etc/cups/" : std::string(cupsConfigPath);
  if (path.back() != '/') path += '/';
  return path + "printers.conf";
}

std::string withoutPassword(std::string_view uriPath, UriText text) {
  std::string path(uriPath);
  if (path.compare(0, 2, "//") != 0) return path;
  const auto authorityEnd = path.find('/', 2);
  // The line was cut inside the authority: whatever follows a ":" there may
  // be a password whose "@" lies past the cut.
  if (text == UriText::Cut && authorityEnd == std::string::npos) return path.substr(0, path.find(':', 2));
  const auto at = path.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd - 1);
  if (at == std::string::npos || at < 2) return path;
  const auto colon = path.find(':', 2);
  if (colon < at) path.erase(colon, at - colon);
  return path;
}

void parseSpoolerLine(std::string_view queue, const Line& line, ScanState& state, DeviceUriParts& parts) {
  if (line.startsWith(kPrinterOpen)) {
    if (opensBlockFor(line, kPrinterOpen, queue)) state = ScanState::Printer;
  } else if (line.startsWith(kDefaultPrinterOpen)) {
    if (opensBlockFor(line, kDefaultPrinterOpen, queue)) state = ScanState::Printer;
  } else if (line.startsWith(kPrinterClose) || line.startsWith(kDefaultPrinterClose)) {
    state = ScanState::None;
  } else if (state == ScanState::Printer && line.startsWith(kDeviceUri)) {
    storeDeviceUri(parts, keywordValue(line, kDeviceUri), line.truncated ? UriText::Cut : UriText::Whole);
  }
}

int scanSpoolerConfig(const std::string& printersConf, std::string_view queue, DeviceUriParts& parts) {
  FileDescriptor input = openForReading(printersConf);
  if (!input.valid()) return -1;
  ScanState state = ScanState::None;
  const ReadResult result = readLines(input.get(), OnEagain::Retry, [&](const Line& line) {
    if (line.textLength == 0 || line.text[0] != '#') parseSpoolerLine(queue, line, state, parts);
    return 0;
  });
  return result == ReadResult::EndOfFile ? 0 : -1;
}

}  // namespace zorv
