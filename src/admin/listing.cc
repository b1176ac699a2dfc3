#include "admin/listing.h"

namespace zorv {
namespace {

constexpr int kDefaultUiPort = 59787;

void printEntryRow(std::FILE* out, int index, const PrinterEntry& entry) {
  std::fprintf(out, "     [%d]    : %s \t: %s \t\t: %s \t: %s \t: %s\n", index, entry.spooler.c_str(),
               entry.backend.c_str(), entry.fifoPath.c_str(), entry.devicePath.c_str(), entry.status.c_str());
}

}  // namespace

void printListing(const ConfigContent& content, std::FILE* out) {
  const ConfigSettings& settings = content.settings;
  std::fprintf(out, "\n");
  std::fprintf(out, " CUPS_ConfigPath = %s\n",
               settings.cupsConfigPath.empty() ? "Default(/etc/cups)" : settings.cupsConfigPath.c_str());
  std::fprintf(out, " LOG Path        = %s\n",
               settings.logDirectoryPath.empty() ? "None" : settings.logDirectoryPath.c_str());
  std::fprintf(out, " UI Port         = %d\n\n", settings.uiPort == 0 ? kDefaultUiPort : settings.uiPort);
  std::fprintf(out, " Entry Num  : Spooler\t: Backend\t: FIFO path\t\t: Device Path \t: Status \n");
  std::fprintf(out, " ----------------------------------------------------------------------------\n");
  for (std::size_t i = 0; i < content.entries.size() && i < kMaxEntries; ++i) {
    printEntryRow(out, static_cast<int>(i), content.entries[i]);
  }
  if (content.unlistedCount > 0) {
    std::fprintf(out, " Entries not listed: %d (the table holds %d)\n", content.unlistedCount, kMaxEntries);
  }
  std::fprintf(out, "\n");
}

}  // namespace zorv
