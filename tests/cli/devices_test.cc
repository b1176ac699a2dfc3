// --devices and the printer warnings of -p and --check, through the real
// binary on mocked machines: umockdev's device tree, and udev's database in
// a private /run of a private mount namespace (the real /run and /dev are
// never touched).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/cli_fixture.h"
#include "support/stand_in_socket.h"

namespace zorv::test {
namespace {

struct MockPrinter {
  int minor;                       // /dev/usb/lpN, device 180:N
  std::string port;                // the port on USB bus 1; empty: the parallel port's /dev/lpN
  std::string id;                  // ieee1284_id; written as hex, so any byte goes
  std::string serial;              // the USB descriptor's
  std::vector<std::string> links;  // what udev made, under /dev
  std::string driver = "usblp";
  bool nodeGone = false;           // unplugged while it is read
  std::map<std::string, int> leadsTo = {};  // links of its that lead to /dev/usb/lpN instead
};

std::string byId(const std::string& model, const std::string& serial) {
  return "usb/by-id/usb-Zorv_" + model + "_" + serial + "-lp";
}
std::string byPath(const std::string& port) { return "usb/by-path/pci-0000:00:14.0-usb-0:" + port + ":1.0-lp"; }

MockPrinter zorv(int minor, const std::string& port, const std::string& model, const std::string& serial,
                 bool ownsById = true) {
  MockPrinter printer{minor, port, "MFG:Zorv;MDL:" + model + ";" + (serial.empty() ? "" : "SN:" + serial + ";"),
                      serial, {byPath(port)}};
  if (!serial.empty() && ownsById) printer.links.insert(printer.links.begin(), byId(model, serial));
  return printer;
}

std::string hex(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(c));
    out += two;
  }
  return out;
}

// The USB device, its printer interface bound to usblp, and the usbmisc node.
std::string description(const MockPrinter& p) {
  const std::string n = std::to_string(p.minor);
  if (p.port.empty()) {
    return "P: /devices/virtual/printer/lp" + n + "\nN: lp" + n + "\nE: DEVNAME=/dev/lp" + n +
           "\nE: SUBSYSTEM=printer\nE: MAJOR=6\nE: MINOR=" + n + "\nA: dev=6:" + n + "\n\n";
  }
  const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + p.port;
  const std::string interface = usb + "/1-" + p.port + ":1.0";
  return "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: manufacturer=Zorv\nA: product=USB Printer\n" +
         "A: serial=" + p.serial + "\n\nP: " + interface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n" +
         "L: driver=../../../../../bus/usb/drivers/" + p.driver + "\nH: ieee1284_id=" + hex(p.id) + "\n\nP: " +
         interface + "/usbmisc/lp" + n + (p.nodeGone ? "" : "\nN: usb/lp" + n) + "\nE: DEVNAME=/dev/usb/lp" + n +
         "\nE: SUBSYSTEM=usbmisc\nE: MAJOR=180\nE: MINOR=" + n + "\nA: dev=180:" + n + "\n\n";
}

std::string block(const std::string& queue, const std::string& path) {
  return "<Printer " + queue + ">\nDevicePath " + path + "\n</Printer>\n\n";
}

const std::vector<MockPrinter> kTwoOfOneModel = {zorv(0, "2", "ZPR4410", "A-1"), zorv(1, "3", "ZPR4410", "B-2")};
// Z4410 named lp0 when its printer was there; lp0 is now the other model.
const std::vector<MockPrinter> kRenumbered = {zorv(0, "3", "ZPR2200", "C-3"), zorv(1, "2", "ZPR4410", "A-1")};
// udev made the by-id name for both; it leads to the one it met last.
MockPrinter claiming(MockPrinter printer, const std::string& byIdName, int leadsTo = -1, std::string usbSerial = "") {
  printer.links = {byIdName, byPath(printer.port)};
  if (leadsTo >= 0) printer.leadsTo[byIdName] = leadsTo;
  if (!usbSerial.empty()) printer.serial = usbSerial;
  return printer;
}
const std::vector<MockPrinter> kSameSerial = {claiming(zorv(0, "2", "ZPR4410", "S-1"), byId("ZPR4410", "S-1"), 1),
                                              zorv(1, "3", "ZPR4410", "S-1")};
// Serials that udev's by-id name spells alike.
const std::vector<MockPrinter> kSanitised = {claiming(zorv(0, "2", "ZPR4410", "A 1"), byId("ZPR4410", "A_1"), 1),
                                             claiming(zorv(1, "3", "ZPR4410", "A_1"), byId("ZPR4410", "A_1"))};
// One USB serial, two Device ID serials.
const std::vector<MockPrinter> kOneUsbSerial = {
    claiming(zorv(0, "2", "ZPR4410", "P-1"), byId("ZPR4410", "U-1"), -1, "U-1"),
    claiming(zorv(1, "3", "ZPR4410", "P-2"), byId("ZPR4410", "U-1"), -1, "U-1")};
const std::string kHostileId = "MFG:Zo\trv\n\x1b[2J;SN:\xff\xfe" + std::string(3000, 'x') + "\xc3\xa9" +
                               std::string(2000, 'y') + ";MDL";
const std::string kTwoEntries = block("Z4410", "/dev/usb/lp0") + block("Z2200", "/dev/" + byId("ZPR4410", "B-2")) +
                                block("Q1", "/dev/" + byPath("2"));
const std::string kLp0 = " Device       : /dev/usb/lp0 (USB)\n";
const std::string kLp1 = " Device       : /dev/usb/lp1 (USB)\n";

struct Case {
  const char* name;
  std::vector<MockPrinter> printers;
  std::string blocks;  // none: no configuration file
  std::vector<std::string> args;
  std::string out;
  std::string err;
  std::map<std::string, std::string> env = {};  // over the shared scheduler's and ZORV_CONF
  int status = 0;
  std::vector<std::string> wrapper = {};  // in front of the binary, inside the mocked machine
};

class DevicesTest : public CliTest {
 protected:
  static void SetUpTestSuite() {
    for (const auto& [queue, model] : {std::pair{"Z4410", "ZPR4410"}, std::pair{"Z2200", "ZPR2200"}}) {
      TempDir ppd;
      writeFile(ppd.file("q.ppd"), "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n"
                                   "*LanguageEncoding: ISOLatin1\n*Manufacturer: \"Zorv\"\n*NickName: \"Zorv " +
                                       std::string(model) + ", 1.0\"\n*ModelName: \"Zorv " + model + "\"\n");
      const RunResult added = runProgram({"lpadmin", "-p", queue, "-v", "usb://Zorv/" + std::string(model), "-E", "-P",
                                          ppd.file("q.ppd")},
                                         CupsScheduler::shared().clientEnv());
      ASSERT_EQ(added.status, 0) << added.err;
    }
  }

  // Runs the binary in a mount namespace whose /run holds udev's database
  // for the printers, under umockdev-run with the printers' device tree;
  // each link udev made is made known to the testbed, so stat follows it.
  RunResult runOn(const Case& row) const {
    std::string tree, links, db = "mount -t tmpfs tmpfs /run && mkdir -p /run/udev/data\n";
    std::map<std::string, int> targets;  // a link two printers claim leads to one: the first's, unless moved
    for (const MockPrinter& p : row.printers) {
      tree += description(p);
      for (const std::string& link : p.links) {
        db += "echo S:" + link + " >>/run/udev/data/c180:" + std::to_string(p.minor) + "\n";
        targets.emplace(link, p.leadsTo.contains(link) ? p.leadsTo.at(link) : p.minor);
      }
    }
    for (const auto& [link, minor] : targets) {
      std::string node = link;
      std::replace(node.begin(), node.end(), '/', '_');
      links += "mkdir -p \"$UMOCKDEV_DIR/dev/" + link.substr(0, link.rfind('/')) + "\" && ln -s ../lp" +
               std::to_string(minor) + " \"$UMOCKDEV_DIR/dev/" + link + "\" && ln -s 180:" + std::to_string(minor) +
               " \"$UMOCKDEV_DIR/dev/.node/" + node + "\"\n";
    }
    writeFile(file("tree.umockdev"), tree);
    writeFile(file("links.sh"), links + "exec \"$@\"\n");
    writeFile(file("mock.sh"), db + "exec umockdev-run -d " + file("tree.umockdev") + " -- sh " + file("links.sh") +
                                   " \"$@\"\n");
    std::vector<std::string> command{"unshare", "-m", "sh", file("mock.sh")};
    command.insert(command.end(), row.wrapper.begin(), row.wrapper.end());
    command.push_back(zorvadminPath());
    command.insert(command.end(), row.args.begin(), row.args.end());
    std::map<std::string, std::string> env = runEnv(row.env);
    // umockdev-run preloads its library ahead of the sanitizer build's
    // runtime, which otherwise refuses to start; they work together.
    env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
    // LeakSanitizer cannot work under ptrace.
    if (!row.wrapper.empty()) env["ASAN_OPTIONS"] += ":detect_leaks=0";
    return runProgram(command, env);
  }
};

TEST_F(DevicesTest, EachEntryLeadsToTheRightPrinter) {
  if (::geteuid() != 0) GTEST_SKIP() << "a private /run needs root (unshare -m)";
  const std::string lp0Z4410 = " Printer      : Zorv ZPR4410 (serial A-1, USB port 1-2)\n Stable names : /dev/" +
                               byId("ZPR4410", "A-1") + "\n                /dev/" + byPath("2") + "\n";
  const StandInSocket silent(file("silent.sock"), StandInSocket::Mode::NeverAnswer);
  const std::vector<MockPrinter> noSerial = {zorv(0, "4", "ZPR4410", "")};
  const std::string noSerialTsv = "device\t/dev/usb/lp0\tusb\t1-4\tZorv\tZPR4410\t\t/dev/" + byPath("4") +
                                  "\tno-serial\nlink\t/dev/usb/lp0\t/dev/" + byPath("4") + "\nentry\tZ4410\t/dev/usb/lp0\t/dev/usb/lp0\t";
  MockPrinter gone = zorv(1, "5", "ZPR4410", "G-1"), otherDriver = zorv(2, "6", "ZPR4410", "H-1");
  gone.nodeGone = true;
  otherDriver.driver = "usbhid";
  const std::vector<Case> cases = {
      {"two printers of one model, different serials", kTwoOfOneModel, kTwoEntries, {"--devices"},
       kLp0 + lp0Z4410 +
           " Entry        : Z4410 (/dev/usb/lp0); CUPS make and model: Zorv ZPR4410, 1.0; the model matches\n"
           " Entry        : Q1 (/dev/" + byPath("2") + "); CUPS make and model: Local Raw Printer; the model cannot be told\n\n" +
           kLp1 + " Printer      : Zorv ZPR4410 (serial B-2, USB port 1-3)\n Stable names : /dev/" +
           byId("ZPR4410", "B-2") + "\n                /dev/" + byPath("3") + "\n Entry        : Z2200 (/dev/" +
           byId("ZPR4410", "B-2") + "); CUPS make and model: Zorv ZPR2200, 1.0; the model differs\n\n",
       ""},
      {"the same, for scripts, the scheduler gone", kTwoOfOneModel, kTwoEntries, {"--devices", "--tsv"},
       "device\t/dev/usb/lp0\tusb\t1-2\tZorv\tZPR4410\tA-1\t/dev/" + byId("ZPR4410", "A-1") + "\town-serial\n" +
           "link\t/dev/usb/lp0\t/dev/" + byId("ZPR4410", "A-1") + "\nlink\t/dev/usb/lp0\t/dev/" + byPath("2") +
           "\nentry\tZ4410\t/dev/usb/lp0\t/dev/usb/lp0\t\tunknown\nentry\tQ1\t/dev/" + byPath("2") +
           "\t/dev/usb/lp0\t\tunknown\n" + "device\t/dev/usb/lp1\tusb\t1-3\tZorv\tZPR4410\tB-2\t/dev/" +
           byId("ZPR4410", "B-2") + "\town-serial\nlink\t/dev/usb/lp1\t/dev/" + byId("ZPR4410", "B-2") +
           "\nlink\t/dev/usb/lp1\t/dev/" + byPath("3") + "\nentry\tZ2200\t/dev/" + byId("ZPR4410", "B-2") +
           "\t/dev/usb/lp1\t\tunknown\n",
       "", {{"CUPS_SERVER", file("no-cupsd.sock")}}},
      {"check: a kernel name, another model, one printer twice", kTwoOfOneModel, kTwoEntries, {"--check"},
       "@:28: warning: the device path /dev/usb/lp0 of Z4410 is renumbered when printers come and go; /dev/" +
           byId("ZPR4410", "A-1") + " names the same printer for good\n@:32: warning: the device path /dev/" +
           byId("ZPR4410", "B-2") + " of Z2200 leads to Zorv ZPR4410 (serial B-2, USB port 1-3), not Z2200's CUPS "
           "make and model Zorv ZPR2200, 1.0\n@:36: warning: Q1 leads to the same printer as Z4410 (line 27)\n",
       ""},
      {"renumbered: -p names lp0, now the other model", kRenumbered, "", {"--quiet", "-p", "Z4410", "-o", "/dev/usb/lp0"},
       "",
       "zorvadmin: warning: /dev/usb/lp0 is renumbered when printers come and go; /dev/" + byId("ZPR2200", "C-3") +
           " names the same printer for good\nzorvadmin: warning: /dev/usb/lp0 leads to Zorv ZPR2200 (serial C-3, "
           "USB port 1-3), not Z4410's CUPS make and model Zorv ZPR4410, 1.0\n"},
      {"no serial, an entry whose device is absent", noSerial,
       block("Z4410", "/dev/usb/lp0") + block("Gone", "/dev/usb/lp5"), {"--devices", "--tsv"},
       noSerialTsv + "Zorv ZPR4410, 1.0\tmatches\nentry\tGone\t/dev/usb/lp5\t\t\tabsent\n", ""},
      {"check: no serial, the by-path name; nothing on the absent", noSerial,
       block("Z4410", "/dev/usb/lp0") + block("Gone", "/dev/usb/lp5"), {"--check"},
       "@:28: warning: the device path /dev/usb/lp0 of Z4410 is renumbered when printers come and go; /dev/" +
           byPath("4") + " names the same printer for good\n@:31: warning: the CUPS scheduler knows no queue Gone\n"
           "@:32: warning: the device path /dev/usb/lp5 of Gone does not exist\n", ""},
      {"a scheduler that never answers", noSerial, block("Z4410", "/dev/usb/lp0"), {"--devices", "--tsv"},
       noSerialTsv + "\tunknown\n", "", {{"CUPS_SERVER", file("silent.sock")}, {"ZORV_SCHEDULER_TIMEOUT", "1"}}},
      {"-p of a queue CUPS does not know: no word on the printer", kRenumbered, "",
       {"-p", "Unknown", "-o", "/dev/usb/lp0"}, "\n Unknown can't find in CUPS Spooler Entry!!\n\n", "", {}, 2},
      {"an unreadable configuration", kRenumbered, "", {"--devices"}, "",
       "zorvadmin: cannot read " + dir_.path() + ": Is a directory\n", {{"ZORV_CONF", dir_.path()}}, 3},
      {"two printers, one serial", kSameSerial, block("Gone", "/dev/usb/lp5") + block("Z2200", "/dev/usb/lp9"), {"--devices"},
       kLp0 + " Printer      : Zorv ZPR4410 (serial S-1, USB port 1-2)\n Stable names : /dev/" + byPath("2") +
           "\n Note         : another printer reports the same serial, and a by-id name leads to only one of them; use /dev/" + byPath("2") + "\n Entry        : none\n\n" + kLp1 +
           " Printer      : Zorv ZPR4410 (serial S-1, USB port 1-3)\n Stable names : /dev/" + byPath("3") +
           "\n Note         : another printer reports the same serial, and a by-id name leads to only one of them; "
           "use /dev/" + byPath("3") + "\n Entry        : none\n\n Not present  : Gone (/dev/usb/lp5)\n"
           "                Z2200 (/dev/usb/lp9)\n\n",
       ""},
      {"-p on a by-id name two printers claim", kOneUsbSerial, "",
       {"--quiet", "-p", "Z4410", "-o", "/dev/" + byId("ZPR4410", "U-1")}, "",
       "zorvadmin: warning: /dev/" + byId("ZPR4410", "U-1") + " is claimed by another printer too, and udev may give "
       "it to that one; /dev/" + byPath("2") + " names the same printer for good\n"},
      {"a hostile Device ID, escaped and cut", {{0, "5", kHostileId, "", {}}}, "", {"--devices"},
       kLp0 + " Printer      : Zo\\trv\\n\\x1b[2J USB Printer (serial \\xff\\xfe" + std::string(126, 'x') +
           "..., USB port 1-5)\n Stable names : none\n Entry        : none\n\n",
       ""},
      {"no printer, no configuration", {}, "", {"--devices"}, " No printer devices.\n\n", ""},
      {"gone while read, another driver's, a parallel port's", {gone, otherDriver, {0, "", "", "", {}}}, "",
       {"--devices"},
       " Device       : /dev/lp0 (parallel port)\n Printer      : a printer that does not say what it is (no serial)\n"
       " Stable names : none\n Entry        : none\n\n",
       ""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(conf());
    if (!row.blocks.empty()) writeConf(configWith(cupsRoot(), row.blocks));
    const RunResult result = runOn(row);
    std::string out = row.out;
    for (std::size_t at; (at = out.find("@:")) != std::string::npos;) out.replace(at, 1, conf());
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, row.err);
  }
}

// --devices' block for a printer of the mock's: its stable names, then REST.
std::string shown(const std::string& model, int minor, const std::string& port, const std::string& serial,
                  const std::vector<std::string>& names, const std::string& rest) {
  std::string out = " Device       : /dev/usb/lp" + std::to_string(minor) + " (USB)\n Printer      : Zorv " + model +
                    " (" + (serial.empty() ? "no serial" : "serial " + serial) + ", USB port 1-" + port + ")\n";
  const char* label = " Stable names : ";
  for (const std::string& name : names) {
    out += label + ("/dev/" + name) + "\n";
    label = "                ";
  }
  return out + rest + "\n";
}
std::string note(const std::string& port) {
  return " Note         : another printer's serial gives the same by-id name, and a by-id name leads to only one of "
         "them; use /dev/" + byPath(port) + "\n";
}
std::string device(int minor, const std::string& port, const std::string& model, const std::string& serial,
                   const std::string& stable, const char* state, const std::vector<std::string>& links) {
  const std::string node = "/dev/usb/lp" + std::to_string(minor);
  std::string out = "device\t" + node + "\tusb\t1-" + port + "\tZorv\t" + model + "\t" + serial + "\t/dev/" + stable +
                    "\t" + state + "\n";
  for (const std::string& link : links) out += "link\t" + node + "\t/dev/" + link + "\n";
  return out;
}
std::string moving(const std::string& line, const std::string& path, const std::string& queue, bool kernel,
                   const std::string& stable) {
  return "@:" + line + ": warning: the device path " + path + " of " + queue +
         (kernel ? " is renumbered when printers come and go; /dev/"
                 : " is claimed by another printer too, and udev may give it to that one; /dev/") +
         stable + " names the same printer for good\n";
}

// A name is offered as a printer's own only when it leads to that printer
// now and no other printer present claims it, as udev gives by-id names
// from the serial it cleans: in the listing, for scripts and in --check.
TEST_F(DevicesTest, StableNamesAreTheOnesThatStay) {
  if (::geteuid() != 0) GTEST_SKIP() << "a private /run needs root (unshare -m)";
  struct Machine {
    const char* name;
    std::vector<MockPrinter> printers;
    std::string blocks;
    std::string devices;  // --devices
    std::string tsv;      // --devices --tsv, no scheduler
    std::string check;    // --check
  };
  const std::string a1 = byId("ZPR4410", "A_1"), u1 = byId("ZPR4410", "U-1"), c3 = byId("ZPR2200", "C-3");
  const std::string z4410Lp0 = " Entry        : Z4410 (/dev/usb/lp0); CUPS make and model: Zorv ZPR4410, 1.0; the model ";
  const std::string none = " Entry        : none\n";
  MockPrinter own = zorv(0, "2", "ZPR4410", "A-1");
  own.leadsTo[byId("ZPR4410", "A-1")] = 1;
  const std::vector<Machine> machines = {
      {"serials udev spells alike, A 1 and A_1", kSanitised,
       block("Z4410", "/dev/usb/lp0") + block("Z2200", "/dev/" + a1),
       shown("ZPR4410", 0, "2", "A 1", {byPath("2")}, note("2") + z4410Lp0 + "matches\n") +
           shown("ZPR4410", 1, "3", "A_1", {byPath("3")},
                 note("3") + " Entry        : Z2200 (/dev/" + a1 +
                     "); CUPS make and model: Zorv ZPR2200, 1.0; the model differs\n"),
       device(0, "2", "ZPR4410", "A 1", byPath("2"), "shared-serial", {byPath("2")}) +
           "entry\tZ4410\t/dev/usb/lp0\t/dev/usb/lp0\t\tunknown\n" +
           device(1, "3", "ZPR4410", "A_1", byPath("3"), "shared-serial", {a1, byPath("3")}) + "entry\tZ2200\t/dev/" +
           a1 + "\t/dev/usb/lp1\t\tunknown\n",
       moving("28", "/dev/usb/lp0", "Z4410", true, byPath("2")) + moving("32", "/dev/" + a1, "Z2200", false, byPath("3")) +
           "@:32: warning: the device path /dev/" + a1 + " of Z2200 leads to Zorv ZPR4410 (serial A_1, USB port 1-3), "
           "not Z2200's CUPS make and model Zorv ZPR2200, 1.0\n"},
      {"one USB serial, two Device ID serials", kOneUsbSerial, block("Z4410", "/dev/" + u1),
       shown("ZPR4410", 0, "2", "P-1", {byPath("2")},
             note("2") + " Entry        : Z4410 (/dev/" + u1 +
                 "); CUPS make and model: Zorv ZPR4410, 1.0; the model matches\n") +
           shown("ZPR4410", 1, "3", "P-2", {byPath("3")}, note("3") + none),
       device(0, "2", "ZPR4410", "P-1", byPath("2"), "shared-serial", {u1, byPath("2")}) + "entry\tZ4410\t/dev/" + u1 +
           "\t/dev/usb/lp0\t\tunknown\n" + device(1, "3", "ZPR4410", "P-2", byPath("3"), "shared-serial", {byPath("3")}),
       moving("28", "/dev/" + u1, "Z4410", false, byPath("2"))},
      {"a by-id link that leads to the other printer", {own, zorv(1, "3", "ZPR4410", "B-2")},
       block("Z4410", "/dev/usb/lp0"),
       shown("ZPR4410", 0, "2", "A-1", {byPath("2")}, z4410Lp0 + "matches\n") +
           shown("ZPR4410", 1, "3", "B-2", {byId("ZPR4410", "B-2"), byPath("3")}, none),
       device(0, "2", "ZPR4410", "A-1", byPath("2"), "own-serial", {byPath("2")}) +
           "entry\tZ4410\t/dev/usb/lp0\t/dev/usb/lp0\t\tunknown\n" +
           device(1, "3", "ZPR4410", "B-2", byId("ZPR4410", "B-2"), "own-serial", {byId("ZPR4410", "B-2"), byPath("3")}),
       moving("28", "/dev/usb/lp0", "Z4410", true, byPath("2"))},
      {"a renumbered pair", kRenumbered, block("Z4410", "/dev/usb/lp0") + block("Z2200", "/dev/" + c3),
       shown("ZPR2200", 0, "3", "C-3", {c3, byPath("3")},
             z4410Lp0 + "differs\n Entry        : Z2200 (/dev/" + c3 +
                 "); CUPS make and model: Zorv ZPR2200, 1.0; the model matches\n") +
           shown("ZPR4410", 1, "2", "A-1", {byId("ZPR4410", "A-1"), byPath("2")}, none),
       device(0, "3", "ZPR2200", "C-3", c3, "own-serial", {c3, byPath("3")}) +
           "entry\tZ4410\t/dev/usb/lp0\t/dev/usb/lp0\t\tunknown\nentry\tZ2200\t/dev/" + c3 + "\t/dev/usb/lp0\t\tunknown\n" +
           device(1, "2", "ZPR4410", "A-1", byId("ZPR4410", "A-1"), "own-serial", {byId("ZPR4410", "A-1"), byPath("2")}),
       moving("28", "/dev/usb/lp0", "Z4410", true, c3) + "@:28: warning: the device path /dev/usb/lp0 of Z4410 leads to "
           "Zorv ZPR2200 (serial C-3, USB port 1-3), not Z4410's CUPS make and model Zorv ZPR4410, 1.0\n"
           "@:32: warning: Z2200 leads to the same printer as Z4410 (line 27)\n"},
  };
  for (const Machine& machine : machines) {
    SCOPED_TRACE(machine.name);
    writeConf(configWith(cupsRoot(), machine.blocks));
    std::string check = machine.check;
    for (std::size_t at; (at = check.find("@:")) != std::string::npos;) check.replace(at, 1, conf());
    for (const auto& [args, out] : {std::pair{std::vector<std::string>{"--devices"}, machine.devices},
                                    {{"--devices", "--tsv"}, machine.tsv}, {{"--check"}, check}}) {
      SCOPED_TRACE(::testing::PrintToString(args));
      std::map<std::string, std::string> env;
      if (args.size() == 2) env["CUPS_SERVER"] = file("no-cupsd.sock");
      const RunResult result = runOn({machine.name, machine.printers, machine.blocks, args, out, "", env});
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.out, out);
      EXPECT_EQ(result.err, "");
    }
  }
}

// A device tree that cannot be read is said, not shown as no printer: on
// the machine's own /sys, whose class directory cannot be opened.
TEST_F(DevicesTest, ASurveyThatFailsSaysSo) {
  const std::vector<std::string> unreadable = {"strace", "-f", "-qq", "-o", "/dev/null", "-P", "/sys/class", "-e",
                                               "trace=openat", "-e", "inject=openat:error=EACCES"};
  const std::string warning = "zorvadmin: warning: cannot survey the printer devices: Permission denied\n";
  const std::string entries = configWith(cupsRoot(), block("Q1", "/dev/null"));
  // An empty /sys of a private mount namespace, as in a chroot.
  const std::vector<std::string> noSysfs = {"unshare", "-m", "sh", "-c", "mount -t tmpfs tmpfs /sys && exec \"$@\"",
                                            "sh"};
  struct Failing {
    std::string config;  // none: no configuration file
    std::vector<std::string> args;
    int status;
    std::string err;
    std::vector<std::string> wrapper = {};  // none: /sys/class unreadable
  };
  const std::vector<Failing> cases = {
      {"", {"--devices"}, 3, "zorvadmin: cannot survey the printer devices: No such file or directory\n", noSysfs},
      {"", {"--devices"}, 3, "zorvadmin: cannot survey the printer devices: Permission denied\n"},
      {entries, {"--devices", "--tsv"}, 3, "zorvadmin: cannot survey the printer devices: Permission denied\n"},
      {entries, {"--devices", "--json"}, 3, "zorvadmin: cannot survey the printer devices: Permission denied\n"},
      {entries, {"--check"}, 0, warning},
      {entries, {"--check", "--strict"}, 2, warning},
      {configWith(cupsRoot()), {"--check"}, 0, ""},  // no entry: the printers do not matter
      {entries, {"--stable-names"}, 3, "zorvadmin: cannot survey the printer devices: Permission denied; nothing changed\n"},
      {entries, {"--json", "--stable-names"}, 3,
       "zorvadmin: cannot survey the printer devices: Permission denied; nothing changed\n"},
      {entries, {"--dry-run", "-p", "Q1", "-o", "/dev/zero"}, 0, warning},
      {entries, {"--quiet", "-p", "Q1", "-o", "/dev/zero"}, 0, warning},  // and the change is made
  };
  for (const Failing& row : cases) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    std::filesystem::remove(conf());
    if (!row.config.empty()) writeConf(row.config);
    if (!row.wrapper.empty() && ::geteuid() != 0) continue;  // a private mount namespace needs root
    std::vector<std::string> command = row.wrapper.empty() ? unreadable : row.wrapper;
    command.push_back(zorvadminPath());
    command.insert(command.end(), row.args.begin(), row.args.end());
    const RunResult result = runProgram(command, runEnv({{"ASAN_OPTIONS", "detect_leaks=0"}}));
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.err, row.err);
    if (row.status == 3) {
      EXPECT_EQ(result.out, "");
    }
  }
  EXPECT_EQ(readConf(), configWith(cupsRoot(), block("Q1", "/dev/zero")));
}

// --stable-names: each entry on a name that can move to another printer
// moves to its printer's stable name, in one change; the rest stay, and
// those that cannot move are named.
TEST_F(DevicesTest, StableNamesMoveEveryMovableEntryAsOneChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "a private /run needs root (unshare -m)";
  const std::string idA = "/dev/" + byId("ZPR4410", "A-1"), idB = "/dev/" + byId("ZPR4410", "B-2");
  const std::vector<MockPrinter> noSerial = {zorv(0, "4", "ZPR4410", "")};
  const std::vector<MockPrinter> noName = {{0, "5", "MFG:Zorv;MDL:ZPR4410;", "", {}}};
  const auto left = [](const std::string& queue, const std::string& path, const std::string& why) {
    return "zorvadmin: warning: " + queue + ": the device path " + path + " " + why + "; left as it is\n";
  };
  struct Row {
    const char* name;
    std::vector<MockPrinter> printers;
    std::string before, after;  // blocks; after empty: the file as it was
    std::string err;
  };
  const std::vector<Row> rows = {
      {"two of one model on kernel names; a by-path and an own by-id name stay", kTwoOfOneModel,
       block("Z4410", "/dev/usb/lp0") + block("Z2200", "/dev/usb/lp1") + block("Q1", "/dev/" + byPath("2")) +
           block("Q2", idB),
       block("Z4410", idA) + block("Z2200", idB) + block("Q1", "/dev/" + byPath("2")) + block("Q2", idB), ""},
      {"a by-id name two printers claim moves to its by-path name", kOneUsbSerial,
       block("Z4410", "/dev/" + byId("ZPR4410", "U-1")) + block("Z2200", "/dev/usb/lp1"),
       block("Z4410", "/dev/" + byPath("2")) + block("Z2200", "/dev/" + byPath("3")), ""},
      {"serials udev spells alike: the shared name moves to the port of the printer it leads to", kSanitised,
       block("Z4410", "/dev/" + byId("ZPR4410", "A_1")), block("Z4410", "/dev/" + byPath("3")), ""},
      {"an absent device is left and named", kTwoOfOneModel, block("Gone", "/dev/usb/lp5") + block("Z4410", "/dev/usb/lp0"),
       block("Gone", "/dev/usb/lp5") + block("Z4410", idA), left("Gone", "/dev/usb/lp5", "leads to no printer present")},
      {"no serial: the by-path name", noSerial, block("Z4410", "/dev/usb/lp0"), block("Z4410", "/dev/" + byPath("4")), ""},
      {"no stable name at all", noName, block("Z4410", "/dev/usb/lp0"), "",
       left("Z4410", "/dev/usb/lp0", "leads to Zorv ZPR4410 (no serial, USB port 1-5), which has no stable name")},
      {"every entry on its stable name already", kTwoOfOneModel, block("Z4410", idA) + block("Z2200", idB), "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(conf() + ".bak");
    const std::string before = configWith(cupsRoot(), row.before);
    writeConf(before);
    struct stat was {};
    ::stat(conf().c_str(), &was);
    const RunResult result = runOn({row.name, row.printers, "", {"--quiet", "--stable-names"}, "", ""});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(readConf(), row.after.empty() ? before : configWith(cupsRoot(), row.after));
    EXPECT_EQ(fileExists(conf() + ".bak"), !row.after.empty());
    struct stat now {};
    ::stat(conf().c_str(), &now);
    EXPECT_EQ(now.st_ino == was.st_ino, row.after.empty());
  }
}

// The migration of a print server with two printers of one model: shown
// first, made as one change that --restore undoes whole, made only once,
// and old or new whatever instant it is killed at.
TEST_F(DevicesTest, StableNamesMigrateAsOneChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "a private /run needs root (unshare -m)";
  const std::string idA = "/dev/" + byId("ZPR4410", "A-1"), idB = "/dev/" + byId("ZPR4410", "B-2");
  const std::string before = configWith(cupsRoot(), block("Z4410", "/dev/usb/lp0") + block("Z2200", "/dev/usb/lp1"));
  const std::string after = configWith(cupsRoot(), block("Z4410", idA) + block("Z2200", idB));
  const auto migrate = [&](const std::vector<std::string>& args, const std::vector<std::string>& wrapper = {}) {
    return runOn({"migration", kTwoOfOneModel, "", args, "", "", {}, 0, wrapper});
  };
  writeConf(before);
  const RunResult preview = migrate({"--dry-run", "--quiet", "--stable-names"});
  EXPECT_EQ(preview.status, 0) << preview.err;
  EXPECT_EQ(preview.out, "--- " + conf() + "\n+++ " + conf() + " (new)\n@@ -25,11 +25,11 @@\n #</Printer>\n \n"
                         " <Printer Z4410>\n-DevicePath /dev/usb/lp0\n+DevicePath " + idA + "\n </Printer>\n \n"
                         " <Printer Z2200>\n-DevicePath /dev/usb/lp1\n+DevicePath " + idB + "\n </Printer>\n \n <Ports>\n");
  EXPECT_EQ(readConf(), before);
  const RunResult quietJson = migrate({"--json", "--dry-run", "--quiet", "--stable-names"});
  EXPECT_EQ(quietJson.status, 0);
  EXPECT_EQ(nlohmann::json::parse(quietJson.out, nullptr, false), (nlohmann::json{{"format", 1}, {"diff", preview.out}}));
  for (const char* signal : {"KILL", "TERM"}) {
    SCOPED_TRACE(signal);
    writeConf(before);
    const RunResult killed = migrate({"--quiet", "--stable-names"}, {"strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                     std::string("inject=rename,renameat,renameat2:signal=") + signal + ":when=1"});
    EXPECT_NE(killed.status, 0);
    EXPECT_EQ(readConf(), std::string(signal) == "KILL" ? before : after);
  }
  writeConf(before);
  std::filesystem::remove(conf() + ".bak");
  const RunResult made = migrate({"--stable-names"});
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_NE(made.out.find(": " + idA + " \t: Modified\n"), std::string::npos) << made.out;
  EXPECT_EQ(readConf(), after);
  EXPECT_EQ(migrate({"--check"}).out.find("renumbered"), std::string::npos);  // silent about kernel names now
  struct stat first {};
  ::stat(conf().c_str(), &first);
  const RunResult again = migrate({"--tsv", "--stable-names"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("\nentry\tZ4410\t" + idA + "\tusb\t"), std::string::npos) << again.out;
  struct stat second {};
  ::stat(conf().c_str(), &second);
  EXPECT_EQ(second.st_ino, first.st_ino);
  EXPECT_EQ(readFile(conf() + ".bak"), before);
  EXPECT_EQ(run({"--quiet", "--restore"}).status, 0);
  EXPECT_EQ(readConf(), before);
  // --json: the listing of the file as made, every entry on its new name.
  const nlohmann::json listed = nlohmann::json::parse(migrate({"--json", "--stable-names"}).out, nullptr, false);
  EXPECT_EQ(readConf(), after);
  EXPECT_EQ(listed.value("/entries"_json_pointer, nlohmann::json()).size(), 2U) << listed;
  EXPECT_EQ(listed.value("/entries/0/device_path"_json_pointer, nlohmann::json()), idA) << listed;
  EXPECT_EQ(listed.value("/entries/1/device_path"_json_pointer, nlohmann::json()), idB) << listed;
}

}  // namespace
}  // namespace zorv::test

namespace zorv::test {
namespace {

// --devices --tsv's records as the --json document: each device with its
// link and entry records, then the entries whose device is absent.
nlohmann::json devicesFromTsv(const std::string& out) {
  using Json = nlohmann::json;
  Json devices = Json::array(), absent = Json::array();
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    std::istringstream cut(line + "\t");
    for (std::string field; std::getline(cut, field, '\t');) f.push_back(field);
    if (f[0] == "device") {
      devices.push_back({{"node", f[1]}, {"kind", f[2]}, {"port", f[3]}, {"make", f[4]}, {"model", f[5]},
                         {"serial", f[6]}, {"stable_name", f[7]}, {"stable_name_reason", f[8]},
                         {"links", Json::array()}, {"entries", Json::array()}});
    } else if (f[0] == "link") {
      devices.back()["links"].push_back(f[2]);
    } else {
      const Json entry = {{"queue", f[1]}, {"device_path", f[2]}, {"node", f[3]}, {"cups_make_and_model", f[4]},
                          {"verdict", f[5]}};
      (f[5] == "absent" ? absent : devices.back()["entries"]).push_back(entry);
    }
  }
  return {{"format", 1}, {"devices", devices}, {"absent_entries", absent}};
}

// --json holds what --tsv prints, field by field, under names: a queue
// name with \x1c, a Device ID with U+2028 and a byte that is no UTF-8.
TEST_F(DevicesTest, TheJsonDocumentHoldsTheRecords) {
  if (::geteuid() != 0) GTEST_SKIP() << "a private /run needs root (unshare -m)";
  const MockPrinter odd{0, "5", "MFG:Zorv;MDL:ZPR\xe2\x80\xa8X\xff;SN:S\x1c" "1;", "", {byPath("5")}};
  const std::string absent = block("Gone", "/dev/usb/lp5") + block("Q\x1cX", "/dev/usb/lp6");
  const struct {
    const char* name;
    std::vector<MockPrinter> printers;
    std::string blocks;
    std::vector<std::string> pinned;  // members of the document, by JSON pointer, and their values
  } machines[] = {
      {"two printers, entries on both and absent", kTwoOfOneModel, kTwoEntries + absent,
       {"/devices/0/stable_name", "/dev/" + byId("ZPR4410", "A-1"), "/devices/0/entries/0/verdict", "matches",
        "/devices/1/entries/0/cups_make_and_model", "Zorv ZPR2200, 1.0", "/absent_entries/1/queue", "Q\\x1cX"}},
      {"a hostile Device ID", {odd}, block("Q1", "/dev/usb/lp0"),
       {"/devices/0/model", "ZPR\xe2\x80\xa8X\\xff", "/devices/0/serial", "S\\x1c" "1", "/devices/0/links/0",
        "/dev/" + byPath("5")}},
      {"no printer", {}, absent, {"/absent_entries/0/verdict", "absent"}},
  };
  for (const auto& machine : machines) {
    SCOPED_TRACE(machine.name);
    writeConf(configWith(cupsRoot(), machine.blocks));
    const RunResult records = runOn({machine.name, machine.printers, machine.blocks, {"--devices", "--tsv"}, "", ""});
    const RunResult document = runOn({machine.name, machine.printers, machine.blocks, {"--devices", "--json"}, "", ""});
    EXPECT_EQ(document.status, 0);
    EXPECT_EQ(document.err, "");
    writeFile(file("out.json"), document.out);
    EXPECT_EQ(runProgram({"python3", "-m", "json.tool", file("out.json")}).status, 0);
    const nlohmann::json parsed = nlohmann::json::parse(document.out, nullptr, false);
    EXPECT_EQ(parsed, devicesFromTsv(records.out)) << document.out;
    for (std::size_t i = 0; i + 1 < machine.pinned.size(); i += 2) {
      const nlohmann::json::json_pointer at(machine.pinned[i]);
      EXPECT_EQ(parsed.contains(at) ? parsed[at] : nullptr, machine.pinned[i + 1]) << machine.pinned[i];
    }
  }
}

}  // namespace
}  // namespace zorv::test
