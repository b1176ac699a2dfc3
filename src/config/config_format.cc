#include "config/config_format.h"

#include <algorithm>
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

bool isPortNumber(std::string_view text) {
  if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const int port = std::stoi(std::string(text));
  return port >= 1 && port <= 65535;
}

std::string_view printerTagName(const Line& line) {
  const std::string_view name = keywordValue(line, tag::kPrinterOpen);
  return name.substr(0, name.rfind('>'));
}

}  // namespace zorv
