#include "admin/text_field.h"

#include <algorithm>

namespace zorv {

void copyText(TextField& field, std::string_view text) {
  const std::size_t end = std::min(text.find('\0'), text.size());
  const std::size_t length = std::min(end, kTextFieldSize - 1);
  std::memcpy(field.bytes.data(), text.data(), length);
  std::fill(field.bytes.begin() + static_cast<std::ptrdiff_t>(length), field.bytes.end(), '\0');
}

}  // namespace zorv
