// Reads CUPS's own printers.conf for the backend and device path of one
// entry's queue, as CUPS reaches it.
#pragma once

#include <string>
#include <string_view>

#include "admin/context.h"
#include "config/line_io.h"

namespace zorv {

enum class ScanState { None, Printer };

// CUPS_ConfigPath + "printers.conf"; /etc/cups/ when the setting is empty,
// and a "/" in between when the setting does not end in one.
std::string printersConfPath(const TextField& cupsConfigPath);

// Fills the backend and fifoPath of entry index. -1 when the file cannot be
// opened or read; the entry then keeps what it had.
int scanSpoolerConfig(AdminContext& context, int index);

int parseSpoolerLine(AdminContext& context, int index, const Line& line, ScanState& state);

// The path part of a device URI with any password left out:
// "//user:secret@host/queue" gives "//user@host/queue".
std::string withoutPassword(std::string_view uriPath);

}  // namespace zorv
