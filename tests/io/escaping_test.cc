// The escaping policies side by side on the same bytes, and the one promise
// all of them keep: no control character comes out raw.
#include "io/escaping.h"

#include <string>

#include <gtest/gtest.h>

namespace zorv {
namespace {

constexpr Escaping kPolicies[] = {Escaping::TsvField,     Escaping::TerminalText, Escaping::SyslogValue,
                                  Escaping::HardwareText, Escaping::JsonString};

TEST(Escaping, EachPolicyOnTheSameText) {
  const struct {
    std::string text, tsv, terminal, syslog, hardware;
  } cases[] = {
      {"/dev/usb/lp0", "/dev/usb/lp0", "/dev/usb/lp0", "/dev/usb/lp0", "/dev/usb/lp0"},
      {"", "", "", "''", ""},
      {"lp 0", "lp 0", "lp 0", "'lp 0'", "lp 0"},
      {"\t\n\\", "\\t\\n\\\\", "\\x09\\x0a\\", "'\\x09\\x0a\\\\'", "\\t\\n\\\\"},
      {"\x1b[2J\a\r\x7f", "\\x1b[2J\\x07\\x0d\\x7f", "\\x1b[2J\\x07\\x0d\\x7f", "'\\x1b[2J\\x07\\x0d\\x7f'",
       "\\x1b[2J\\x07\\x0d\\x7f"},
      {std::string("a\0b", 3), "a\\x00b", "a\\x00b", "'a\\x00b'", "a\\x00b"},
      {"it's", "it's", "it's", "'it\\'s'", "it's"},
      {"caf\xc3\xa9", "caf\xc3\xa9", "caf\xc3\xa9", "caf\xc3\xa9", "caf\xc3\xa9"},
      // A C1 control and a byte that is no UTF-8: only hardware text judges them.
      {"\xc2\x9b\xff", "\xc2\x9b\xff", "\xc2\x9b\xff", "\xc2\x9b\xff", "\\xc2\\x9b\\xff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(escaped(c.text, Escaping::TsvField), c.tsv);
    EXPECT_EQ(escaped(c.text, Escaping::TerminalText), c.terminal);
    EXPECT_EQ(escaped(c.text, Escaping::SyslogValue), c.syslog);
    EXPECT_EQ(escaped(c.text, Escaping::HardwareText), c.hardware);
  }
}

// JSON strings hold what a TSV field holds, and only valid UTF-8; a diff
// keeps its lines and tabs.
TEST(Escaping, JsonStringsAndDiffs) {
  const struct {
    std::string text, json, diff;
  } cases[] = {
      {"\t\n\\\x1c", "\\t\\n\\\\\\x1c", "\t\n\\\\x1c"},
      {"\xe2\x80\xa8", "\xe2\x80\xa8", "\xe2\x80\xa8"},                 // U+2028
      {"\xc2\x9b\xff", "\xc2\x9b\\xff", "\\xc2\\x9b\\xff"},          // C1 as --tsv has it
      {"\xc0\xaf\xe2\x80", "\\xc0\\xaf\\xe2\\x80", "\\xc0\\xaf\\xe2\\x80"},  // overlong, cut short
      {"\xc2", "\\xc2", "\\xc2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(escaped(c.text, Escaping::JsonString), c.json);
    EXPECT_EQ(escaped(c.text, Escaping::DiffText), c.diff);
  }
}

TEST(Escaping, NoByteComesOutAsAControlCharacter) {
  for (const Escaping policy : kPolicies) {
    for (int byte = 0; byte < 256; ++byte) {
      const std::string out = escaped("<" + std::string(1, static_cast<char>(byte)) + ">", policy);
      for (const char c : out) {
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == '\x7f')
            << "policy " << static_cast<int>(policy) << ", byte " << byte;
      }
    }
  }
}

}  // namespace
}  // namespace zorv
