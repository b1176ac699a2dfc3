// Bounded text fields: every copy into them is bounded and cuts longer
// text, so no value read from a file makes a record grow past 255
// characters; a field takes only what its text needs.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace zorv {

constexpr std::size_t kTextFieldSize = 256;

struct TextField {
  std::string value;  // at most kTextFieldSize - 1 characters, no NUL

  const char* c_str() const { return value.c_str(); }
  bool empty() const { return value.empty(); }
  std::string_view view() const { return value; }
  bool operator==(std::string_view text) const { return view() == text; }
};

// An ASCII control character (below 0x20, or DEL): what must never reach a
// terminal or a log line raw.
inline bool isControlCharacter(char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; }

// Copies at most 255 characters of text (stopping at a NUL) into field.
void copyText(TextField& field, std::string_view text);

// The one rule for queue names, everywhere a name is compared (the pass,
// the printers.conf scan, --check's duplicates, the scheduler's answers):
// ASCII letters without regard to case, every other byte exactly, as CUPS
// compares destination names.
bool sameQueueName(std::string_view a, std::string_view b);

// The name with ASCII letters in lower case: equal for names sameQueueName
// takes as the same, for use as a key.
std::string foldedQueueName(std::string_view name);

}  // namespace zorv
