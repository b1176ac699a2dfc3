// Text from outside the run (the configuration, CUPS's files, the
// scheduler's words, what a device reports) written where a control
// character would act or mislead: a terminal, a tab-separated record, a
// syslog line. One function, one named policy for each kind of place, so
// that no place invents its own rule.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zorv {

enum class Escaping {
  // A field of a tab-separated record: tab, newline and backslash as \t, \n
  // and \\, every other control character as \xNN, bytes past ASCII as
  // they are.
  TsvField,
  // Text on a terminal: control characters as \xNN, everything else
  // (backslashes and bytes past ASCII included) as it is.
  TerminalText,
  // A value in a log line: as it is when made only of letters, digits,
  // "/._-+:@%,=~^" or bytes past ASCII; else in single quotes with ', \ and
  // control characters written \', \\ and \xNN.
  SyslogValue,
  // Text a device reports: as a TSV field, and moreover C1 controls and
  // every byte that is not part of valid UTF-8 as \xNN.
  HardwareText,
  // A string in a JSON document: as a TSV field, and moreover every byte
  // that is not part of valid UTF-8 as \xNN; the C1 controls stay as a TSV
  // field has them, so the string holds the text --tsv prints.
  JsonString,
  // A unified diff in a JSON document: newlines and tabs as they are, so
  // it reads as a diff; other control characters and every byte that is
  // not part of valid UTF-8 as \xNN.
  DiffText,
};

std::string escaped(std::string_view text, Escaping policy);

// The length of the valid UTF-8 character at text[at], or 0 when the bytes
// there are not one (overlong forms, surrogates, values past U+10FFFF and
// the C1 controls included).
std::size_t utf8CharacterLength(std::string_view text, std::size_t at);

}  // namespace zorv
