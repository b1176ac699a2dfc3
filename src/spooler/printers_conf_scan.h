// Reads CUPS's own printers.conf for the backend and device path of one
// queue, as CUPS reaches it.
#pragma once

#include <string>
#include <string_view>

#include "io/line_io.h"
#include "io/text_field.h"

namespace zorv {

enum class ScanState { None, Printer };

// The two halves of a queue's DeviceURI, split at its first ":".
struct DeviceUriParts {
  TextField backend;
  TextField fifoPath;
};

// CUPS_ConfigPath + "printers.conf"; /etc/cups/ when the setting is empty,
// and a "/" in between when the setting does not end in one.
std::string printersConfPath(std::string_view cupsConfigPath);

// Fills parts from the block of queue (names compared as the scheduler
// compares them). 0 when the file was read through (parts unchanged when no
// block matched); -1 with errno set when it cannot be opened or read, or is
// not a regular file (errno kNotRegularFile).
int scanSpoolerConfig(const std::string& printersConf, std::string_view queue, DeviceUriParts& parts);

void parseSpoolerLine(std::string_view queue, const Line& line, ScanState& state, DeviceUriParts& parts);

enum class UriText { Whole, Cut };

// The path part of a device URI with any password left out:
// "//user:secret@host/queue" gives "//user@host/queue". Of a URI cut
// inside its authority, everything from the authority's first ":" is left
// out, as the password's end cannot be seen.
std::string withoutPassword(std::string_view uriPath, UriText text = UriText::Whole);

}  // namespace zorv
