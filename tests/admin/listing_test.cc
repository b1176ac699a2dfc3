#include "admin/listing.h"

#include <string>

#include <gtest/gtest.h>

namespace zorv {
namespace {

// A field of the listing for scripts stays one field on one line, reads
// back unambiguously, and holds no control character a terminal would act on.
TEST(TsvField, EscapesTabNewlineBackslashAndControlCharacters) {
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
      {"cr\r esc\x1b nul" + std::string(1, '\0') + " del\x7f \xff", "cr\\x0d esc\\x1b nul\\x00 del\\x7f \xff"},
  };
  for (const auto& c : cases) EXPECT_EQ(tsvField(c.field), c.written) << c.field;
}

}  // namespace
}  // namespace zorv
