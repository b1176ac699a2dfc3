// The printer character devices present on this machine, as udev sees them:
// USB printers (usblp, /dev/usb/lpN) and parallel-port printers (/dev/lpN),
// each with the names udev made for it and who the printer says it is.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "devices/device_id.h"

namespace zorv {

enum class PrinterPort { Usb, Parallel };

struct PrinterDevice {
  PrinterPort port = PrinterPort::Usb;
  std::string node;                // the kernel's name, such as /dev/usb/lp0
  dev_t number = 0;                // of the node, from stat
  std::vector<std::string> links;  // the links udev made for it that lead to it now, sorted
  // Its by-id names that another present printer claims too: udev made them
  // for both (their ID_SERIAL is the same), so either may hold them next.
  std::vector<std::string> sharedNames;
  DeviceIdentity identity;         // from the Device ID, else the USB descriptors
  std::string portPath;            // the USB port, such as 1-1.4; empty for parallel
};

struct PrinterDeviceScan {
  std::vector<PrinterDevice> devices;
  int error = 0;  // errno of a survey that could not be made (no udev, /sys unreadable); 0 when made
};

// Ordered by port kind, then device number. A device that goes away while
// it is being read is left out; a device tree that cannot be enumerated
// leaves no device and says why.
PrinterDeviceScan findPrinterDevices();

// The device number path leads to after links are followed, when it is a
// character device.
std::optional<dev_t> characterDeviceNumber(const std::string& path);

enum class StableKind { ById, ByPath, Other };

// Which of the package's udev names a link is.
StableKind stableKind(const std::string& link);

// Whether the name is one of the device's links that no other present
// printer claims: a name that stays with this printer.
bool isStableLink(const PrinterDevice& device, const std::string& link);

// The name to use for the device in a configuration: its by-id link, or
// its by-path link when no by-id link is its own alone, or any other link
// udev made that leads to it; empty when it has none.
std::string stableName(const PrinterDevice& device);

}  // namespace zorv
