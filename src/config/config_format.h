// The format of the daemon's configuration file: its tags, keywords, the
// lines the tool writes itself, and the built-in default content.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "config/config_files.h"
#include "io/line_io.h"

namespace zorv {

namespace tag {
constexpr std::string_view kPathOpen = "<Path>";
constexpr std::string_view kPathClose = "</Path>";
constexpr std::string_view kPrinterOpen = "<Printer";
constexpr std::string_view kPrinterClose = "</Printer>";
constexpr std::string_view kPortsOpen = "<Ports>";
constexpr std::string_view kPortsClose = "</Ports>";
}  // namespace tag

namespace keyword {
constexpr std::string_view kCupsConfigPath = "CUPS_ConfigPath";
constexpr std::string_view kLogDirectoryPath = "LogDirectoryPath";
constexpr std::string_view kDevicePath = "DevicePath";
constexpr std::string_view kUiPort = "UI_Port";
}  // namespace keyword

constexpr const char* kPrinterOpenFormat = "<Printer %s>\n";
constexpr const char* kDevicePathFormat = "DevicePath %s\n";
constexpr const char* kPrinterCloseLine = "</Printer>\n\n";

// The default file, in the pieces it is made of.
constexpr std::array<std::string_view, 18> kDefaultConfigPieces = {
    "#\n# Quorx Printer Daemon for CUPS Configuration Data\n#\n\n",
    "<Path>\n",
    "# CUPS configuration files Path\n",
    "#  Default  /etc/cups/\n",
    "CUPS_ConfigPath   /etc/cups/\n\n",
    "# LOG Directory Path\n#LogDirectoryPath /var/log/ZORV/\n\n",
    "</Path>\n\n",
    "# Printer entries\n#  Mapping each \"Printer-Name\" to \"Printer Device Port\".\n",
    "# The \"Printer-Name\" has to be identical to the CUPS printer queue name.\n#\n",
    "#  For example, if you prepare a printer named \"ZPR4410\" as a CUPS printer\n",
    "#  queue name, and the printer is connected to the USB port \"/dev/usb/lp0\",\n",
    "#  you can use the following three lines example just by removing the\n",
    "#  comment symbol \"#\" of each line.\n",
    "#<Printer  ZPR4410>\n",
    "#DevicePath  /dev/usb/lp0\n",
    "#</Printer>\n\n",
    "<Ports>\n",
    "# Status Monitor API socket port\n#  Default PORT  59787\nUI_Port  59787\n</Ports>\n",
};

// Writes the default content to a new file beside files.config (see
// NewFile) as 0644 root:root, whatever the umask, syncs it and renames it
// to files.config: a reader finds no file or the whole default, never part
// of it. When the new file cannot be created, prints "errno=..." to
// standard output besides the message on standard error. Returns -1 on any
// failure, leaving no new file behind. The caller holds the exclusive lock.
int writeDefaultConfig(const ConfigFiles& files);

// An optional sign and leading digits, saturated to the int32 range; 0 when
// there are no digits: how the daemon reads UI_Port.
std::int32_t leadingNumber(std::string_view text);

// Whether text is a UI_Port value the daemon can listen on: digits only,
// 1 to 65535. --check and --set hold values to it.
bool isPortNumber(std::string_view text);

// The name of a printer tag line: the text after "<Printer" with leading
// separators skipped, cut at the last ">" (the whole rest without one).
std::string_view printerTagName(const Line& line);

}  // namespace zorv
