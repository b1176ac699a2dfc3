// The configuration pass's state machine: one streaming pass over the
// file, line by line, through a small section state machine (None, Path,
// Printer, Ports), with fixed buffers whatever the file's size. Its one
// shape serves both modes: a read notes the settings and entries it meets;
// a rewrite does the same and hands the lines it keeps, replaces or inserts
// to its sink, so it never holds the file. Used only by config_pass.cc.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_format.h"
#include "config/config_pass.h"
#include "io/line_io.h"

namespace zorv {

enum class PassMode { Read, Rewrite };

struct PassSetup {
  PassMode mode = PassMode::Read;
  EntryKeeping keeping = EntryKeeping::TableOnly;
  std::string_view queue;                  // the queue whose blocks blockFound() and queueBlocks() tell of
  const PassObserver* observer = nullptr;  // null: findings are not noted, entries are kept
  RewriteRequest request;                  // a rewrite's
  ByteSink output;                         // a rewrite's
};

enum class ConfigSection { None, Path, Printer, Ports };

class ConfigPass {
 public:
  ConfigPass(const ConfigFiles& files, QueueDirectory& queues, PassSetup setup)
      : files_(files), queues_(queues), setup_(std::move(setup)) {}

  // 0 to go on; -1 once the pass has failed (finish() tells how).
  int handleLine(const Line& line);

  // Checks what only the whole pass can tell.
  PassResult finish();

  ConfigContent& content() { return content_; }
  bool blockFound() const { return blockFound_; }
  std::vector<PrinterEntry>& queueBlocks() { return queueBlocks_; }

 private:
  const RewriteRequest& request() const { return setup_.request; }
  bool rewriting() const { return setup_.mode == PassMode::Rewrite; }
  bool adding() const { return rewriting() && request().mode == RewriteMode::Add; }
  bool removing() const { return rewriting() && request().mode == RewriteMode::Remove; }
  bool inTable() const { return blocksCounted_ < kMaxEntries; }
  bool keepsEntry() const { return inTable() || setup_.keeping == EntryKeeping::All; }

  void note(const char* message);
  int drop(const char* message);
  int fail(PassResult result);
  int write(std::string_view bytes);

  // The line of format with value, however long value is.
  int writeFormatted(const char* format, std::string_view value);

  // Writes a kept line back unchanged; a line cut by the line buffer would
  // lose its tail, so such a rewrite is refused instead.
  int copy(const Line& line);
  int processConfigLine(const Line& line);
  int enterSection(ConfigSection section, const Line& line);

  // A block's entry is counted when its closing tag is met; a block left
  // open by the next section never is.
  int openPrinterBlock(const Line& line);
  int closePrinterBlock(const Line& line);
  void countEntry(const PrinterEntry& entry);
  int openPorts(const Line& line);
  int appendPrinterBlock();
  int writeDevicePath();
  int pathLine(const Line& line);
  int printerLine(const Line& line);
  int portsLine(const Line& line);

  const ConfigFiles& files_;
  QueueDirectory& queues_;
  const PassSetup setup_;
  int blocksCounted_ = 0;
  int lineNumber_ = 0;
  int nextLineNumber_ = 1;
  ConfigContent content_;
  ConfigSection section_ = ConfigSection::None;
  PrinterEntry block_;  // the entry of the printer block being read
  bool inTarget_ = false;
  bool targetDeviceWritten_ = false;
  bool targetHandled_ = false;
  bool blockFound_ = false;
  bool appended_ = false;
  std::vector<PrinterEntry> queueBlocks_;
  std::string lineBytes_;
  PassResult result_ = PassResult::Ok;
};


}  // namespace zorv
