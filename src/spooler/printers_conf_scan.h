// Reads CUPS's own printers.conf for the backend and device path of the
// queues a listing shows, as CUPS reaches them: one pass over the file for
// all of them, however many there are.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "io/text_field.h"

namespace zorv {

// The two halves of a queue's DeviceURI, split at its first ":".
struct DeviceUriParts {
  TextField backend;
  TextField fifoPath;
  bool fromFile = false;  // a scan found the queue's DeviceURI
};

// The queues asked about, keyed by foldedQueueName; a scan fills in the
// parts of those that printers.conf has and leaves the others as they are.
using SpoolerColumns = std::map<std::string, DeviceUriParts>;

// CUPS_ConfigPath + "printers.conf"; /etc/cups/ when the setting is empty,
// and a "/" in between when the setting does not end in one.
std::string printersConfPath(std::string_view cupsConfigPath);

// Fills the parts of every queue in columns whose block the file has
// (names compared as the scheduler compares them; the last DeviceURI of the
// last such block wins). 0 when the file was read through; -1 with errno
// set when it cannot be opened or read, or is not a regular file (errno
// kNotRegularFile).
int scanSpoolerConfig(const std::string& printersConf, SpoolerColumns& columns);

enum class UriText { Whole, Cut };

// The path part of a device URI with any password left out, also of a URI
// wrapped inside another backend's path: "//user:secret@host/queue" gives
// "//user@host/queue", "/1/3/smb://u:p@h/q" gives "/1/3/smb://u@h/q". Of a
// URI cut inside an authority, everything from that authority's first ":"
// is left out, as the password's end cannot be seen.
std::string withoutPassword(std::string_view uriPath, UriText text = UriText::Whole);

}  // namespace zorv
