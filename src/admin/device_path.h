// Whether a device path can name a printer: a character device, or a path
// where one may appear once the printer is plugged in. Anything else there
// (a file, a directory, a FIFO) would receive the print data instead.
#pragma once

#include <string>
#include <string_view>

namespace zorv {

enum class DevicePathVerdict {
  CharacterDevice,  // links followed
  Missing,          // nothing there yet, a dangling link included
  NotADevice,       // a regular file, a directory, a FIFO, a socket
  CannotCheck,      // stat failed otherwise (no search right, a loop of links)
  WhiteSpace,       // begins or ends with white space, which no one sees
};

// Looks at path and nothing else (stat, links followed), with the rights
// the process has when it is called.
DevicePathVerdict judgeDevicePath(std::string_view path);

// Whether a path with this verdict is refused rather than stored.
bool refusesDevicePath(DevicePathVerdict verdict);

// What is wrong, to follow "the device path PATH": "does not exist", "is
// not a character device", ...; null for a character device.
const char* devicePathProblem(DevicePathVerdict verdict);

// The path as messages show it: in single quotes, escaped, when it holds
// anything but plain characters (a trailing space shows), as the audit
// line quotes values.
std::string shownDevicePath(std::string_view path);

}  // namespace zorv
