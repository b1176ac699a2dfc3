#include "admin/listing.h"

namespace zorv {
namespace {

constexpr int kDefaultUiPort = 59787;

void printEntryRow(std::FILE* out, int index, const PrinterEntry& entry) {
  std::fprintf(out, "     [%d]    : %s \t: %s \t\t: %s \t: %s \t: %s\n", index, entry.spooler.c_str(),
               entry.backend.c_str(), entry.fifoPath.c_str(), entry.devicePath.c_str(), entry.status.c_str());
}

}  // namespace

void printListing(const AdminContext* context, std::FILE* out) {
  if (context == nullptr) return;
  std::fprintf(out, "\n");
  std::fprintf(out, " CUPS_ConfigPath = %s\n",
               context->cupsConfigPath.empty() ? "Default(/etc/cups)" : context->cupsConfigPath.c_str());
  std::fprintf(out, " LOG Path        = %s\n",
               context->logDirectoryPath.empty() ? "None" : context->logDirectoryPath.c_str());
  std::fprintf(out, " UI Port         = %d\n\n", context->uiPort == 0 ? kDefaultUiPort : context->uiPort);
  std::fprintf(out, " Entry Num  : Spooler\t: Backend\t: FIFO path\t\t: Device Path \t: Status \n");
  std::fprintf(out, " ----------------------------------------------------------------------------\n");
  for (int i = 0; i < context->entryCount && i < kMaxEntries; ++i) {
    if (const auto& entry = context->entries[static_cast<std::size_t>(i)]) printEntryRow(out, i, *entry);
  }
  if (context->unlistedCount > 0) {
    std::fprintf(out, " Entries not listed: %d (the table holds %d)\n", context->unlistedCount, kMaxEntries);
  }
  std::fprintf(out, "\n");
}

}  // namespace zorv
