#include "devices/printer_devices.h"

#include <libudev.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <tuple>

namespace zorv {
namespace {

struct UdevUnref {
  void operator()(udev* handle) const { udev_unref(handle); }
  void operator()(udev_enumerate* handle) const { udev_enumerate_unref(handle); }
  void operator()(udev_device* handle) const { udev_device_unref(handle); }
};
using Udev = std::unique_ptr<udev, UdevUnref>;
using UdevEnumerate = std::unique_ptr<udev_enumerate, UdevUnref>;
using UdevDevice = std::unique_ptr<udev_device, UdevUnref>;

std::string text(const char* value) { return value != nullptr ? value : ""; }

std::string attribute(udev_device* device, const char* name) {
  return device != nullptr ? text(udev_device_get_sysattr_value(device, name)) : "";
}

void fillGaps(DeviceIdentity& identity, const DeviceIdentity& fallback) {
  if (identity.make.empty()) identity.make = fallback.make;
  if (identity.model.empty()) identity.model = fallback.model;
  if (identity.serial.empty()) identity.serial = fallback.serial;
}

// The parents are owned by the child device; they need no unref.
bool fillUsbIdentity(udev_device* device, PrinterDevice& printer) {
  udev_device* interface = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface");
  if (interface == nullptr || text(udev_device_get_driver(interface)) != "usblp") return false;
  printer.identity = parseDeviceId(attribute(interface, "ieee1284_id"));
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  fillGaps(printer.identity, {attribute(usb, "manufacturer"), attribute(usb, "product"), attribute(usb, "serial")});
  if (usb != nullptr) printer.portPath = text(udev_device_get_sysname(usb));
  return true;
}

// The kernel shows a parallel printer's Device ID only under /proc, for
// the port the lp device of the same number usually drives.
void fillParallelIdentity(udev_device* device, PrinterDevice& printer) {
  const char* number = udev_device_get_sysnum(device);
  if (number == nullptr) return;
  std::ifstream in(std::string("/proc/sys/dev/parport/parport") + number + "/autoprobe");
  std::string id;
  std::getline(in, id);
  printer.identity = parseDeviceId(id);
}

std::optional<PrinterDevice> readPrinter(udev* context, const char* syspath, std::vector<std::string>& claims) {
  UdevDevice device(udev_device_new_from_syspath(context, syspath));
  if (!device) return std::nullopt;
  PrinterDevice printer;
  printer.node = text(udev_device_get_devnode(device.get()));
  const std::string subsystem = text(udev_device_get_subsystem(device.get()));
  if (subsystem == "usbmisc") {
    if (!fillUsbIdentity(device.get(), printer)) return std::nullopt;
  } else {
    printer.port = PrinterPort::Parallel;
    fillParallelIdentity(device.get(), printer);
  }
  // Gone while it was read: absent, like a printer unplugged a moment earlier.
  const std::optional<dev_t> number = characterDeviceNumber(printer.node);
  if (printer.node.empty() || !number) return std::nullopt;
  printer.number = *number;
  // udev lists every name its rules gave the device, also one that another
  // device holds now: kept as a claim, shown only where it leads.
  for (udev_list_entry* entry = udev_device_get_devlinks_list_entry(device.get()); entry != nullptr;
       entry = udev_list_entry_get_next(entry)) {
    std::string link = text(udev_list_entry_get_name(entry));
    if (stableKind(link) == StableKind::ById) claims.push_back(link);
    if (characterDeviceNumber(link) == printer.number) printer.links.push_back(std::move(link));
  }
  std::sort(printer.links.begin(), printer.links.end());
  return printer;
}

// A by-id name comes from the USB serial as udev cleans it (ID_SERIAL), so
// printers whose serials differ only in what it replaces get one name: the
// names more than one present printer claims are nobody's own.
void markSharedNames(std::vector<PrinterDevice>& devices, const std::vector<std::vector<std::string>>& claims) {
  std::map<std::string, int> claimants;
  for (const std::vector<std::string>& names : claims) {
    for (const std::string& name : std::set<std::string>(names.begin(), names.end())) ++claimants[name];
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    for (const std::string& name : std::set<std::string>(claims[i].begin(), claims[i].end())) {
      if (claimants[name] > 1) devices[i].sharedNames.push_back(name);
    }
  }
}

// libudev returns -errno, or null with errno set; a failure that says
// nothing is still one.
int failure(int result) { return result < 0 ? -result : (errno != 0 ? errno : EIO); }

}  // namespace

PrinterDeviceScan findPrinterDevices() {
  PrinterDeviceScan scan;
  // Without sysfs (a chroot, a bare container) udev finds nothing and
  // reports no failure.
  struct stat sysfs {};
  if (::stat("/sys/class", &sysfs) != 0) return {{}, errno};
  errno = 0;
  Udev context(udev_new());
  if (!context) return {{}, failure(0)};
  UdevEnumerate enumerate(udev_enumerate_new(context.get()));
  if (!enumerate) return {{}, failure(0)};
  for (const char* subsystem : {"usbmisc", "printer"}) {
    if (const int added = udev_enumerate_add_match_subsystem(enumerate.get(), subsystem); added < 0) {
      return {{}, failure(added)};
    }
  }
  // A directory of /sys that cannot be read fails the scan; one that is
  // not there (no such device class) does not.
  if (const int scanned = udev_enumerate_scan_devices(enumerate.get()); scanned < 0) return {{}, failure(scanned)};
  std::vector<std::vector<std::string>> claims;  // each device's by-id names, whether they lead to it or not
  for (udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate.get()); entry != nullptr;
       entry = udev_list_entry_get_next(entry)) {
    std::vector<std::string> names;
    if (std::optional<PrinterDevice> printer = readPrinter(context.get(), udev_list_entry_get_name(entry), names)) {
      scan.devices.push_back(std::move(*printer));
      claims.push_back(std::move(names));
    }
  }
  markSharedNames(scan.devices, claims);
  std::sort(scan.devices.begin(), scan.devices.end(), [](const PrinterDevice& a, const PrinterDevice& b) {
    return std::tuple(a.port, major(a.number), minor(a.number)) < std::tuple(b.port, major(b.number), minor(b.number));
  });
  return scan;
}

std::optional<dev_t> characterDeviceNumber(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return std::nullopt;
  return info.st_rdev;
}

StableKind stableKind(const std::string& link) {
  if (link.starts_with("/dev/usb/by-id/")) return StableKind::ById;
  if (link.starts_with("/dev/usb/by-path/")) return StableKind::ByPath;
  return StableKind::Other;
}

bool isStableLink(const PrinterDevice& device, const std::string& link) {
  return std::find(device.links.begin(), device.links.end(), link) != device.links.end() &&
         std::find(device.sharedNames.begin(), device.sharedNames.end(), link) == device.sharedNames.end();
}

std::string stableName(const PrinterDevice& device) {
  for (const StableKind wanted : {StableKind::ById, StableKind::ByPath, StableKind::Other}) {
    for (const std::string& link : device.links) {
      if (stableKind(link) == wanted && isStableLink(device, link)) return link;
    }
  }
  return {};
}

}  // namespace zorv
