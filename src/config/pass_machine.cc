#include "config/pass_machine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "io/problem_report.h"

namespace zorv {

int ConfigPass::handleLine(const Line& line) {
  lineNumber_ = nextLineNumber_;
  nextLineNumber_ += line.lineBreaks > 0 ? line.lineBreaks : 1;
  if (line.truncated) note("the line is longer than 1024 characters; a rewrite would cut it");
  if (line.textLength > 0 && line.text[0] == '#') return copy(line);
  return processConfigLine(line);
}

PassResult ConfigPass::finish() {
  if (result_ != PassResult::Ok || !adding()) return result_;
  if (!targetHandled_) {
    reportProblem("cannot add %s: %s has no <Ports> line to add it before", std::string(request().queue).c_str(),
                  files_.config.c_str());
    return PassResult::Refused;
  }
  if (appended_ && content_.unlistedCount > 0) {
    reportProblem("cannot add %s: the table holds %d entries", std::string(request().queue).c_str(), kMaxEntries);
    return PassResult::Refused;
  }
  return PassResult::Ok;
}

void ConfigPass::note(const char* message) {
  if (setup_.observer != nullptr && setup_.observer->finding) setup_.observer->finding({lineNumber_, message});
}

int ConfigPass::drop(const char* message) {
  note(message);
  return 0;
}

int ConfigPass::fail(PassResult result) {
  result_ = result;
  return -1;
}

int ConfigPass::write(std::string_view bytes) {
  if (setup_.output(bytes) == 0) return 0;
  return fail(PassResult::FileError);
}

int ConfigPass::writeFormatted(const char* format, std::string_view value) {
  const std::string text(value);
  const int length = std::snprintf(nullptr, 0, format, text.c_str());
  if (length < 0) {
    reportProblem("cannot write %s: %s", files_.config.c_str(), std::strerror(errno));
    return fail(PassResult::FileError);
  }
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  std::snprintf(buffer.data(), buffer.size(), format, text.c_str());
  return write({buffer.data(), static_cast<std::size_t>(length)});
}

int ConfigPass::copy(const Line& line) {
  if (!rewriting()) return 0;
  if (line.truncated) {
    reportProblem("cannot rewrite %s: it has a line longer than %d characters", files_.config.c_str(), kMaxLineText);
    return fail(PassResult::Refused);
  }
  lineBytes_.clear();
  appendLine(lineBytes_, line);
  return write(lineBytes_);
}

int ConfigPass::processConfigLine(const Line& line) {
  if (line.startsWith(tag::kPathOpen)) return enterSection(ConfigSection::Path, line);
  if (line.startsWith(tag::kPathClose)) return enterSection(ConfigSection::None, line);
  if (line.startsWith(tag::kPrinterOpen)) return openPrinterBlock(line);
  if (line.startsWith(tag::kPrinterClose)) return closePrinterBlock(line);
  if (line.startsWith(tag::kPortsOpen)) return openPorts(line);
  if (line.startsWith(tag::kPortsClose)) return enterSection(ConfigSection::None, line);
  switch (section_) {
    case ConfigSection::Path: return pathLine(line);
    case ConfigSection::Printer: return printerLine(line);
    case ConfigSection::Ports: return portsLine(line);
    case ConfigSection::None: return drop("text outside any section; a rewrite drops it");
  }
  return 0;
}

int ConfigPass::enterSection(ConfigSection section, const Line& line) {
  section_ = section;
  return copy(line);
}

int ConfigPass::openPrinterBlock(const Line& line) {
  section_ = ConfigSection::Printer;
  block_ = freshEntry();
  block_.line = lineNumber_;
  copyText(block_.spooler, printerTagName(line));
  if (keepsEntry() && !queues_.knows(block_.spooler.view())) {
    block_.unknownQueue = true;
  }
  const bool named = !setup_.queue.empty() && sameQueueName(block_.spooler.view(), setup_.queue);
  blockFound_ = blockFound_ || named;
  inTarget_ = rewriting() && named;
  targetDeviceWritten_ = false;
  if (!inTarget_) return copy(line);
  targetHandled_ = true;
  copyText(block_.spooler, request().queue);
  block_.state = EntryState::Modified;
  return adding() ? writeFormatted(kPrinterOpenFormat, request().queue) : 0;
}

int ConfigPass::closePrinterBlock(const Line& line) {
  if (section_ != ConfigSection::Printer) return enterSection(ConfigSection::None, line);
  section_ = ConfigSection::None;
  block_.closeLine = lineNumber_;
  // A block of the queue that has no device path line gets one.
  if (inTarget_ && adding() && !targetDeviceWritten_ && writeDevicePath() != 0) return -1;
  if (inTarget_ && removing()) block_.state = EntryState::Deleted;
  if (!setup_.queue.empty() && sameQueueName(block_.spooler.view(), setup_.queue)) queueBlocks_.push_back(block_);
  countEntry(block_);
  const bool dropped = inTarget_ && removing();
  inTarget_ = false;
  return dropped ? 0 : copy(line);
}

void ConfigPass::countEntry(const PrinterEntry& entry) {
  const bool kept = keepsEntry();
  if (!inTable()) ++content_.unlistedCount;
  ++blocksCounted_;
  if (!kept) return;
  if (setup_.observer != nullptr && setup_.observer->entry) {
    setup_.observer->entry(entry);
  } else {
    content_.entries.push_back(entry);
  }
}

int ConfigPass::openPorts(const Line& line) {
  section_ = ConfigSection::Ports;
  content_.settings.hasPorts = true;
  inTarget_ = false;
  if (adding() && !targetHandled_ && !request().fileHasBlock && appendPrinterBlock() != 0) return -1;
  return copy(line);
}

int ConfigPass::appendPrinterBlock() {
  if (writeFormatted(kPrinterOpenFormat, request().queue) != 0 ||
      writeFormatted(kDevicePathFormat, request().devicePath) != 0 || write(kPrinterCloseLine) != 0) {
    return -1;
  }
  appended_ = true;
  targetHandled_ = true;
  PrinterEntry entry = freshEntry();
  entry.state = EntryState::New;
  copyText(entry.spooler, request().queue);
  copyText(entry.devicePath, request().devicePath);
  countEntry(entry);
  return 0;
}

int ConfigPass::writeDevicePath() {
  targetDeviceWritten_ = true;
  copyText(block_.devicePath, request().devicePath);
  return writeFormatted(kDevicePathFormat, request().devicePath);
}

int ConfigPass::pathLine(const Line& line) {
  ConfigSettings& settings = content_.settings;
  if (line.startsWith(keyword::kCupsConfigPath)) {
    copyText(settings.cupsConfigPath, keywordValue(line, keyword::kCupsConfigPath));
    settings.cupsConfigPathLine = lineNumber_;
  } else if (line.startsWith(keyword::kLogDirectoryPath)) {
    copyText(settings.logDirectoryPath, keywordValue(line, keyword::kLogDirectoryPath));
    settings.logDirectoryPathLine = lineNumber_;
  }
  return copy(line);
}

int ConfigPass::printerLine(const Line& line) {
  const bool devicePathLine = line.startsWith(keyword::kDevicePath);
  if (devicePathLine) {
    copyText(block_.devicePath, keywordValue(line, keyword::kDevicePath));
    block_.devicePathLine = lineNumber_;
  }
  // Blocks beyond the table pass through unchanged unless they are the target.
  if (!inTable() && !inTarget_) return copy(line);
  if (!devicePathLine) return drop("unknown line in a printer block; a rewrite drops it");
  if (!inTarget_) return copy(line);
  if (removing()) return 0;
  return writeDevicePath();
}

int ConfigPass::portsLine(const Line& line) {
  if (line.startsWith(keyword::kUiPort)) {
    ConfigSettings& settings = content_.settings;
    copyText(settings.uiPortText, keywordValue(line, keyword::kUiPort));
    settings.uiPort = leadingNumber(settings.uiPortText.view());
    settings.uiPortLine = lineNumber_;
  }
  return copy(line);
}

}  // namespace zorv
