#include "config/config_format.h"

#include <fcntl.h>
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
  FileDescriptor fd(::open(files.newFile.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
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

std::string_view printerTagName(std::string_view line) {
  std::string_view rest = line.substr(tag::kPrinterOpen.size());
  const char* start = skipSeparators(rest.data(), static_cast<int>(rest.size()));
  rest.remove_prefix(static_cast<std::size_t>(start - rest.data()));
  const auto close = rest.rfind('>');
  return close == std::string_view::npos ? rest : rest.substr(0, close);
}

}  // namespace zorv
