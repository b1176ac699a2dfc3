#include "admin/context.h"

#include <utility>

namespace zorv {

std::unique_ptr<AdminContext> createContext(ConfigFiles files) {
  auto context = std::make_unique<AdminContext>();
  context->files = std::move(files);
  return context;
}

int ensureEntry(AdminContext& context, int index) {
  if (index < 0 || index >= kMaxEntries) return -1;
  auto& slot = context.entries[static_cast<std::size_t>(index)];
  if (!slot) {
    slot = std::make_unique<PrinterEntry>();
    copyText(slot->fifoPath, "               ");
  }
  return 0;
}

PrinterEntry* entryAt(AdminContext& context, int index) {
  if (index < 0 || index >= kMaxEntries) return nullptr;
  return context.entries[static_cast<std::size_t>(index)].get();
}

}  // namespace zorv
