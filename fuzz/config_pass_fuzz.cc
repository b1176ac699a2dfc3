// libFuzzer target: arbitrary bytes as the configuration file and as CUPS's
// printers.conf, through the real line reader, the read pass, the rewrite
// passes and the printers.conf scan. A remove of an absent name must be
// idempotent: applied to its own output it gives the same bytes.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "admin/context.h"
#include "config/config_pass.h"
#include "spooler/printers_conf_scan.h"

namespace {

std::string gDirectory;

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readBytes(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

std::unique_ptr<zorv::AdminContext> contextFor(zorv::AdminCommand command, const char* name) {
  auto context = zorv::createContext(zorv::configFilesFor(gDirectory + "/zorv.conf"));
  context->command = command;
  zorv::copyText(context->printerName, name);
  zorv::copyText(context->devicePath, "/dev/usb/lp1");
  return context;
}

// The read pass, then the scan of every entry against the same bytes.
void readAndScan() {
  auto context = contextFor(zorv::AdminCommand::List, "");
  zorv::runConfigPass(*context, zorv::AdminCommand::List);
  zorv::copyText(context->cupsConfigPath, gDirectory + "/");
  for (int index = 0; index < context->entryCount; ++index) zorv::scanSpoolerConfig(*context, index);
}

// The rewritten bytes, or nothing when the rewrite was refused.
bool rewrite(zorv::AdminCommand command, const char* name, std::string& output) {
  auto context = contextFor(command, name);
  if (zorv::runConfigPass(*context, command) != zorv::PassResult::Ok) return false;
  output = readBytes(context->files.newFile);
  ::unlink(context->files.newFile.c_str());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No scheduler: every lookup fails at once, as with CUPS stopped.
  ::setenv("CUPS_SERVER", "/nonexistent/zorv-fuzz.sock", 1);
  char pattern[] = "/tmp/zorvfuzz.XXXXXX";
  gDirectory = ::mkdtemp(pattern);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string conf = gDirectory + "/zorv.conf";
  writeBytes(conf, input);
  writeBytes(gDirectory + "/printers.conf", input);
  readAndScan();

  std::string once;
  if (rewrite(zorv::AdminCommand::Remove, "absent\x01name", once)) {
    writeBytes(conf, once);
    std::string twice;
    if (!rewrite(zorv::AdminCommand::Remove, "absent\x01name", twice) || twice != once) __builtin_trap();
  }

  std::string ignored;
  writeBytes(conf, input);
  rewrite(zorv::AdminCommand::Add, "Q1", ignored);
  writeBytes(conf, input);
  rewrite(zorv::AdminCommand::Remove, "Q1", ignored);
  return 0;
}
