#include "admin/listing.h"

#include <string>

#include <gtest/gtest.h>

namespace zorv {
namespace {

// A field of the listing for scripts stays one field on one line, and reads
// back unambiguously.
TEST(TsvField, EscapesTabNewlineAndBackslashOnly) {
  const struct {
    std::string field, written;
  } cases[] = {
      {"", ""},
      {"plain /dev/usb/lp0", "plain /dev/usb/lp0"},
      {"a\tb", "a\\tb"},
      {"a\nb", "a\\nb"},
      {"a\\tb", "a\\\\tb"},  // a backslash and a t, not a tab
      {"\\", "\\\\"},
      {"\t\n\\", "\\t\\n\\\\"},
      {"cr\r esc\x1b nul" + std::string(1, '\0') + " \xff", "cr\r esc\x1b nul" + std::string(1, '\0') + " \xff"},
  };
  for (const auto& c : cases) EXPECT_EQ(tsvField(c.field), c.written) << c.field;
}

}  // namespace
}  // namespace zorv
