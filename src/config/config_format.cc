#include "config/config_format.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/file_safety.h"
#include "config/line_io.h"

namespace zorv {
namespace {

int writeDefaultPieces(int fd, const std::string& path) {
  for (std::string_view piece : kDefaultConfigPieces) {
    if (writeAll(fd, piece.data(), static_cast<long>(piece.size())) != 0) {
      reportFileError("write", path);
      return -1;
    }
  }
  return 0;
}

}  // namespace

int writeDefaultConfig(const ConfigFiles& files) {
  FileDescriptor fd = openNewFile(files.newFile);
  if (!fd.valid()) {
    std::printf("errno=%s\n", std::strerror(errno));
    return -1;
  }
  if (writeDefaultPieces(fd.get(), files.newFile) != 0 || closeNewFile(fd, files.newFile) != 0 ||
      moveIntoPlace(files.newFile, files.config) != 0) {
    ::unlink(files.newFile.c_str());
    return -1;
  }
  return 0;
}

std::string_view printerTagName(const Line& line) {
  const std::string_view name = keywordValue(line, tag::kPrinterOpen);
  return name.substr(0, name.rfind('>'));
}

}  // namespace zorv
