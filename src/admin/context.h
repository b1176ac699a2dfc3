// The run context: everything one run of zorvadmin knows, in one record
// that owns its text fields, its entry table and its CUPS queue list.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "admin/text_field.h"
#include "config/config_files.h"
#include "spooler/queue_lookup.h"

namespace zorv {

enum class AdminCommand : std::int32_t { List = 0, Add = 1, Remove = 2 };

constexpr int kMaxEntries = 16;

struct PrinterEntry {
  TextField spooler;
  TextField devicePath;
  TextField status;
  TextField backend;
  TextField fifoPath;
};

struct AdminContext {
  TextField printerName;
  TextField devicePath;
  std::int32_t uiPort = 0;
  TextField cupsConfigPath;
  TextField logDirectoryPath;
  AdminCommand command = AdminCommand::List;
  std::int32_t entryCount = 0;    // rows of the table; never above kMaxEntries
  std::int32_t unlistedCount = 0; // printer blocks that found no slot
  bool targetHandled = false;
  std::array<std::unique_ptr<PrinterEntry>, kMaxEntries> entries;

  ConfigFiles files;
  SpoolerQueues spoolerQueues;
};

std::unique_ptr<AdminContext> createContext(ConfigFiles files);

// Makes sure slot index holds a record; a fresh record's FIFO path is 15
// spaces. Returns -1 when index lies outside the table.
int ensureEntry(AdminContext& context, int index);

// The record in slot index, or null when the slot is empty or out of range.
PrinterEntry* entryAt(AdminContext& context, int index);

}  // namespace zorv
