#include "config/config_format.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "io/new_file.h"

namespace zorv {

int writeDefaultConfig(const ConfigFiles& files) {
  NewFile file = NewFile::create(files.newFile, 0644);
  if (!file.valid()) {
    std::printf("errno=%s\n", std::strerror(errno));
    return -1;
  }
  std::string content;
  for (std::string_view piece : kDefaultConfigPieces) content += piece;
  if (file.setOwnerAndMode(0, 0, 0644) != 0 || file.write(content) != 0) return -1;
  return file.commit(files.config);
}

std::string_view printerTagName(const Line& line) {
  const std::string_view name = keywordValue(line, tag::kPrinterOpen);
  return name.substr(0, name.rfind('>'));
}

}  // namespace zorv
