#include "spooler/printers_conf_scan.h"

#include <algorithm>
#include <vector>

#include "io/file_descriptor.h"
#include "io/line_io.h"

namespace zorv {
namespace {

constexpr std::string_view kPrinterOpen = "<Printer";
constexpr std::string_view kDefaultPrinterOpen = "<DefaultPrinter";
constexpr std::string_view kPrinterClose = "</Printer>";
constexpr std::string_view kDefaultPrinterClose = "</DefaultPrinter>";
constexpr std::string_view kDeviceUri = "DeviceURI";

// The wanted queue an opening tag of either kind names; null for any other.
DeviceUriParts* wantedBlock(const Line& line, std::string_view tag, SpoolerColumns& columns) {
  const std::string_view name = keywordValue(line, tag);
  const auto close = name.rfind('>');
  if (close == std::string_view::npos) return nullptr;
  const auto found = columns.find(foldedQueueName(name.substr(0, close)));
  return found == columns.end() ? nullptr : &found->second;
}

void storeDeviceUri(DeviceUriParts& parts, std::string_view uri, UriText text) {
  parts.fromFile = true;
  const auto colon = uri.find(':');
  if (colon == std::string_view::npos) {
    copyText(parts.backend, uri);
    copyText(parts.fifoPath, "");
    return;
  }
  copyText(parts.backend, uri.substr(0, colon));
  copyText(parts.fifoPath, withoutPassword(uri.substr(colon + 1), text));
}

// Drops the password from the authority that starts at position start.
void maskAuthority(std::string& path, std::size_t start, UriText text) {
  const auto authorityEnd = path.find('/', start);
  if (text == UriText::Cut && authorityEnd == std::string::npos) {
    const auto colon = path.find(':', start);
    if (colon != std::string::npos) path.erase(colon);
    return;
  }
  const auto at = path.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd - 1);
  if (at == std::string::npos || at < start) return;
  const auto colon = path.find(':', start);
  if (colon < at) path.erase(colon, at - colon);
}

}  // namespace

std::string printersConfPath(std::string_view cupsConfigPath) {
  std::string path = cupsConfigPath.empty() ? "/etc/cups/" : std::string(cupsConfigPath);
  if (path.back() != '/') path += '/';
  return path + "printers.conf";
}

std::string withoutPassword(std::string_view uriPath, UriText text) {
  std::string path(uriPath);
  // Every authority: the path's own, and those of URIs wrapped inside it
  // ("beh:/1/3/5/smb://...") after a "scheme:".
  for (std::size_t slashes = path.find("//"); slashes != std::string::npos; slashes = path.find("//", slashes + 2)) {
    if (slashes == 0 || path[slashes - 1] == ':') maskAuthority(path, slashes + 2, text);
  }
  return path;
}

namespace {

// The wanted queues whose blocks are open. A tag of another queue closes
// none of them, as CUPS's reader would have it; a closing tag closes all.
using OpenBlocks = std::vector<DeviceUriParts*>;

void openBlock(DeviceUriParts* parts, OpenBlocks& open) {
  if (parts != nullptr && std::find(open.begin(), open.end(), parts) == open.end()) open.push_back(parts);
}

void scanLine(const Line& line, SpoolerColumns& columns, OpenBlocks& open) {
  if (line.startsWith(kPrinterOpen)) {
    openBlock(wantedBlock(line, kPrinterOpen, columns), open);
  } else if (line.startsWith(kDefaultPrinterOpen)) {
    openBlock(wantedBlock(line, kDefaultPrinterOpen, columns), open);
  } else if (line.startsWith(kPrinterClose) || line.startsWith(kDefaultPrinterClose)) {
    open.clear();
  } else if (!open.empty() && line.startsWith(kDeviceUri)) {
    for (DeviceUriParts* parts : open) {
      storeDeviceUri(*parts, keywordValue(line, kDeviceUri), line.truncated ? UriText::Cut : UriText::Whole);
    }
  }
}

}  // namespace

int scanSpoolerConfig(const std::string& printersConf, SpoolerColumns& columns) {
  FileDescriptor input = openForReading(printersConf);
  if (!input.valid()) return -1;
  OpenBlocks open;
  // A comment ("#...") begins with none of the tags scanLine looks for.
  const ReadResult result = readLines(input.get(), [&](const Line& line) {
    scanLine(line, columns, open);
    return 0;
  });
  return result == ReadResult::EndOfFile ? 0 : -1;
}

}  // namespace zorv
