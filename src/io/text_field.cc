#include "io/text_field.h"

#include <algorithm>

namespace zorv {
namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

void copyText(TextField& field, std::string_view text) {
  const std::size_t end = std::min(text.find('\0'), text.size());
  const std::size_t length = std::min(end, kTextFieldSize - 1);
  field.value.assign(text.data(), length);
}

std::string foldedQueueName(std::string_view name) {
  std::string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(), asciiLower);
  return folded;
}

bool sameQueueName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

}  // namespace zorv
