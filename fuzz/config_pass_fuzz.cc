// libFuzzer target: arbitrary bytes as the configuration file and as CUPS's
// printers.conf, through the real line reader, the read pass, the rewrite
// passes and the printers.conf scan. A remove of an absent name must be
// idempotent: applied to its own output it gives the same bytes, and so
// must an add of the same device.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "config/config_pass.h"
#include "spooler/printers_conf_scan.h"

namespace {

std::string gDirectory;

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The scheduler as the tests' fake: a fixed pair of known queues.
class TwoQueues final : public zorv::QueueDirectory {
 public:
  bool knows(std::string_view queue) override { return queue == "Q1" || queue == "Q2"; }
};

// The read pass, then the scan of every entry against the same bytes.
void readAndScan(zorv::QueueDirectory& queues) {
  const zorv::ConfigFiles files = zorv::configFilesFor(gDirectory + "/zorv.conf");
  zorv::ConfigRead read = zorv::readConfig(files, queues, {zorv::EntryKeeping::All, zorv::MissingFile::IsAnError, {}, nullptr});
  // As the listing does: one scan for every entry.
  zorv::SpoolerColumns columns;
  for (const zorv::PrinterEntry& entry : read.content.entries) columns[zorv::foldedQueueName(entry.spooler.view())];
  zorv::scanSpoolerConfig(gDirectory + "/printers.conf", columns);
}

// The rewritten bytes, or nothing when the rewrite was refused.
bool rewrite(zorv::QueueDirectory& queues, zorv::RewriteMode mode, const char* name, std::string& output) {
  const zorv::ConfigFiles files = zorv::configFilesFor(gDirectory + "/zorv.conf");
  const zorv::ConfigRead read =
      zorv::readConfig(files, queues, {zorv::EntryKeeping::TableOnly, zorv::MissingFile::IsAnError, name, nullptr});
  const zorv::RewriteRequest request{mode, name, "/dev/usb/lp1", read.blockFound};
  output.clear();
  const zorv::ConfigRead result = zorv::rewriteConfig(files, request, queues, [&output](std::string_view bytes) {
    output += bytes;
    return 0;
  });
  return result.result == zorv::PassResult::Ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/zorvfuzz.XXXXXX";
  gDirectory = ::mkdtemp(pattern);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TwoQueues queues;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string conf = gDirectory + "/zorv.conf";
  writeBytes(conf, input);
  writeBytes(gDirectory + "/printers.conf", input);
  readAndScan(queues);

  std::string once;
  if (rewrite(queues, zorv::RewriteMode::Remove, "absent\x01name", once)) {
    writeBytes(conf, once);
    std::string twice;
    if (!rewrite(queues, zorv::RewriteMode::Remove, "absent\x01name", twice) || twice != once) __builtin_trap();
  }

  // An add is idempotent too: the second add of the same device changes nothing.
  std::string added;
  writeBytes(conf, input);
  if (rewrite(queues, zorv::RewriteMode::Add, "Q1", added)) {
    writeBytes(conf, added);
    std::string again;
    if (rewrite(queues, zorv::RewriteMode::Add, "Q1", again) && again != added) __builtin_trap();
  }
  std::string ignored;
  writeBytes(conf, input);
  rewrite(queues, zorv::RewriteMode::Remove, "Q1", ignored);
  return 0;
}
