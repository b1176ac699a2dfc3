#include "config/config_pass.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "config/config_format.h"
#include "config/file_safety.h"

namespace zorv {
namespace {

constexpr const char* kStatusInvalid = "invalid Spool Name";
constexpr const char* kStatusModified = "Modified";
constexpr const char* kStatusDelete = "Delete";
constexpr const char* kStatusNew = "New!!";

// An optional sign and leading digits, saturated to the int32 range; 0 when
// there are no digits.
std::int32_t leadingNumber(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) value = static_cast<std::int64_t>(INT32_MAX) + 1;
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(value > INT32_MAX ? INT32_MAX : value);
}

int registerEntry(AdminContext& context, int index, std::string_view name) {
  if (ensureEntry(context, index) != 0) return -1;
  PrinterEntry& entry = *entryAt(context, index);
  copyText(entry.spooler, name);
  // The slot may still hold what another block left in an earlier pass.
  copyText(entry.devicePath, "");
  copyText(entry.status, "");
  if (spoolerExists(context.spoolerQueues, entry.spooler.c_str()) != 0) copyText(entry.status, kStatusInvalid);
  return 0;
}

class ConfigPass {
 public:
  ConfigPass(AdminContext& context, AdminCommand mode, int outFd)
      : context_(context), mode_(mode), outFd_(outFd) {}

  // 0 to go on; -1 once the pass has failed (finish() tells how).
  int handleLine(const Line& line) {
    if (line.textLength > 0 && line.text[0] == '#') return copy(line);
    return processConfigLine(line);
  }

  // Checks what only the whole pass can tell.
  PassResult finish() {
    if (result_ != PassResult::Ok || mode_ != AdminCommand::Add) return result_;
    if (!context_.targetHandled) {
      std::fprintf(stderr, "zorvadmin: cannot add %s: %s has no <Ports> line to add it before\n",
                   context_.printerName.c_str(), context_.files.config.c_str());
      return PassResult::Refused;
    }
    if (appended_ && context_.unlistedCount > 0) {
      std::fprintf(stderr, "zorvadmin: cannot add %s: the table holds %d entries\n",
                   context_.printerName.c_str(), kMaxEntries);
      return PassResult::Refused;
    }
    return PassResult::Ok;
  }

 private:
  bool rewriting() const { return mode_ != AdminCommand::List; }
  bool inTargetBlock() const { return rewriting() && blockName_ == context_.printerName.view(); }
  PrinterEntry* blockEntry() { return entryAt(context_, context_.entryCount); }

  int fail(PassResult result) {
    result_ = result;
    return -1;
  }

  int write(const char* bytes, long length) {
    if (writeAll(outFd_, bytes, length) == 0) return 0;
    reportFileError("write", context_.files.newFile);
    return fail(PassResult::FileError);
  }

  int writeFormatted(const char* format, const char* value) {
    std::array<char, 1024> buffer{};
    const int length = std::snprintf(buffer.data(), buffer.size(), format, value);
    return write(buffer.data(), length);
  }

  // Writes a kept line back unchanged; a line cut by the line buffer would
  // lose its tail, so such a rewrite is refused instead.
  int copy(const Line& line) {
    if (!rewriting()) return 0;
    if (line.truncated) {
      std::fprintf(stderr, "zorvadmin: cannot rewrite %s: it has a line longer than %d characters\n",
                   context_.files.config.c_str(), kMaxLineText);
      return fail(PassResult::Refused);
    }
    if (writeLine(outFd_, line) == 0) return 0;
    reportFileError("write", context_.files.newFile);
    return fail(PassResult::FileError);
  }

  int processConfigLine(const Line& line) {
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
      case ConfigSection::None: return 0;  // dropped
    }
    return 0;
  }

  int enterSection(ConfigSection section, const Line& line) {
    section_ = section;
    return copy(line);
  }

  int openPrinterBlock(const Line& line) {
    section_ = ConfigSection::Printer;
    copyText(blockName_, printerTagName(line));
    registerEntry(context_, context_.entryCount, blockName_.view());
    if (!inTargetBlock()) return copy(line);
    if (mode_ == AdminCommand::Add && writeFormatted(kPrinterOpenFormat, context_.printerName.c_str()) != 0) return -1;
    if (PrinterEntry* entry = blockEntry()) {
      copyText(entry->spooler, context_.printerName.view());
      copyText(entry->status, kStatusModified);
    }
    context_.targetHandled = true;
    return 0;
  }

  int closePrinterBlock(const Line& line) {
    if (section_ != ConfigSection::Printer) return enterSection(ConfigSection::None, line);
    const bool removing = inTargetBlock() && mode_ == AdminCommand::Remove;
    PrinterEntry* entry = blockEntry();
    if (entry) {
      ++context_.entryCount;
    } else {
      ++context_.unlistedCount;
    }
    section_ = ConfigSection::None;
    copyText(blockName_, "");
    if (!removing) return copy(line);
    if (entry) copyText(entry->status, kStatusDelete);
    return 0;
  }

  int openPorts(const Line& line) {
    section_ = ConfigSection::Ports;
    if (mode_ == AdminCommand::Add && !context_.targetHandled) {
      if (appendPrinterBlock() != 0) return -1;
      context_.targetHandled = true;
    }
    return copy(line);
  }

  int appendPrinterBlock() {
    if (writeFormatted(kPrinterOpenFormat, context_.printerName.c_str()) != 0 ||
        writeFormatted(kDevicePathFormat, context_.devicePath.c_str()) != 0 ||
        writeFormatted("%s", kPrinterCloseLine) != 0) {
      return -1;
    }
    appended_ = true;
    if (ensureEntry(context_, context_.entryCount) != 0) {
      ++context_.unlistedCount;
      return 0;
    }
    PrinterEntry& entry = *blockEntry();
    copyText(entry.status, kStatusNew);
    copyText(entry.spooler, context_.printerName.view());
    copyText(entry.devicePath, context_.devicePath.view());
    ++context_.entryCount;
    return 0;
  }

  int pathLine(const Line& line) {
    if (line.startsWith(keyword::kCupsConfigPath)) {
      copyText(context_.cupsConfigPath, keywordValue(line, keyword::kCupsConfigPath));
    } else if (line.startsWith(keyword::kLogDirectoryPath)) {
      copyText(context_.logDirectoryPath, keywordValue(line, keyword::kLogDirectoryPath));
    }
    return copy(line);
  }

  int printerLine(const Line& line) {
    PrinterEntry* entry = blockEntry();
    const bool target = inTargetBlock();
    // Blocks beyond the table pass through unchanged unless they are the target.
    if (entry == nullptr && !target) return copy(line);
    if (!line.startsWith(keyword::kDevicePath)) return 0;  // dropped
    if (entry) copyText(entry->devicePath, keywordValue(line, keyword::kDevicePath));
    if (!target) return copy(line);
    if (mode_ == AdminCommand::Remove) return 0;
    if (entry) copyText(entry->devicePath, context_.devicePath.view());
    return writeFormatted(kDevicePathFormat, context_.devicePath.c_str());
  }

  int portsLine(const Line& line) {
    if (line.startsWith(keyword::kUiPort)) context_.uiPort = leadingNumber(keywordValue(line, keyword::kUiPort));
    return copy(line);
  }

  AdminContext& context_;
  const AdminCommand mode_;
  const int outFd_;
  ConfigSection section_ = ConfigSection::None;
  TextField blockName_;  // name of the printer block being read
  bool appended_ = false;
  PassResult result_ = PassResult::Ok;
};

// Opens the configuration for reading; in read mode a file that does not
// exist is first created from the default. Anything else is a file error.
FileDescriptor openConfigInput(const AdminContext& context, AdminCommand mode) {
  const std::string& path = context.files.config;
  FileDescriptor input = openForReading(path);
  if (input.valid()) return input;
  if (errno != ENOENT || mode != AdminCommand::List) {
    reportFileError("open", path);
    return input;
  }
  if (writeDefaultConfig(context.files) != 0) return input;
  input = openForReading(path);
  if (!input.valid()) reportFileError("open", path);
  return input;
}

PassResult readThrough(AdminContext& context, AdminCommand mode, int inFd, int outFd) {
  ConfigPass pass(context, mode, outFd);
  const ReadResult read = readLines(inFd, false, [&pass](const Line& line) { return pass.handleLine(line); });
  if (read == ReadResult::ReadFailed) {
    reportFileError("read", context.files.config);
    return PassResult::FileError;
  }
  return pass.finish();
}

}  // namespace

PassResult runConfigPass(AdminContext& context, AdminCommand mode) {
  context.targetHandled = false;
  FileDescriptor input = openConfigInput(context, mode);
  if (!input.valid()) return PassResult::FileError;
  if (mode == AdminCommand::List) return readThrough(context, mode, input.get(), -1);

  FileDescriptor output = createNewFile(context.files.newFile);
  if (!output.valid()) return PassResult::FileError;
  PassResult result = readThrough(context, mode, input.get(), output.get());
  if (result == PassResult::Ok && closeNewFile(output, context.files.newFile) != 0) result = PassResult::FileError;
  if (result != PassResult::Ok) {
    output.close();
    ::unlink(context.files.newFile.c_str());
  }
  return result;
}

}  // namespace zorv
