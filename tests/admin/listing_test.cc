#include "admin/listing.h"

#include <cstdio>
#include <cstdlib>
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


// The last field of each line that begins with prefix, joined by "|".
template <typename Print>
std::string statuses(Print print, const std::string& prefix, const std::string& separator) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  print(out);
  std::fclose(out);
  const std::string text(buffer, size);
  std::free(buffer);
  std::string found;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    if (line.rfind(prefix, 0) == 0) found += "|" + line.substr(line.rfind(separator) + separator.size());
  }
  return found.substr(1);
}

// A queue the scheduler does not know is "unknown" only when the scheduler
// was asked about it; else it is unchecked.
TEST(Listing, UnknownOnlyWhenTheSchedulerWasAsked) {
  ConfigContent content;
  for (const std::string name : {"Known", "Gone", "Late"}) {
    PrinterEntry entry = freshEntry();
    copyText(entry.spooler, name);
    entry.unknownQueue = name != "Known";
    content.entries.push_back(entry);
  }
  const struct {
    bool reached;
    std::string unasked, tsv, listed;
  } cases[] = {
      {true, "", "ok|unknown-queue|unknown-queue", "|invalid Spool Name|invalid Spool Name"},
      {true, "late", "ok|unknown-queue|unchecked", "|invalid Spool Name|unchecked"},
      {false, "", "ok|unchecked|unchecked", "|unchecked|unchecked"},
  };
  for (const auto& c : cases) {
    SchedulerState scheduler{c.reached, {}};
    if (!c.unasked.empty()) scheduler.unasked.insert(c.unasked);
    EXPECT_EQ(statuses([&](std::FILE* out) { printTsvListing(content, scheduler, out); }, "entry", "\t"), c.tsv);
    EXPECT_EQ(statuses([&](std::FILE* out) { printListing(content, scheduler, out); }, "     [", " \t: "), c.listed);
  }
}

}  // namespace
}  // namespace zorv
