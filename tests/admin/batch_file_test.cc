// --batch's line parser: verbs, fields split at spaces and tabs, the last
// field of add and set taking the rest of the line, and what it refuses.
#include "admin/batch_file.h"

#include <gtest/gtest.h>

namespace zorv {
namespace {

TEST(BatchFileTest, ParsesEachLineOrSaysWhy) {
  struct Case {
    const char* text;
    const char* problem;  // null: parsed
    BatchVerb verb;
    const char* name;
    const char* value;
  };
  const Case cases[] = {
      {"add Q1 /dev/usb/lp0", nullptr, BatchVerb::Add, "Q1", "/dev/usb/lp0"},
      {"add\tQ1 \t /dev/my printer ", nullptr, BatchVerb::Add, "Q1", "/dev/my printer "},
      {"remove Q2", nullptr, BatchVerb::Remove, "Q2", ""},
      {"remove Q2 \t", nullptr, BatchVerb::Remove, "Q2", ""},
      {"set LogDirectoryPath /var/log/a b", nullptr, BatchVerb::Set, "LogDirectoryPath", "/var/log/a b"},
      {"add Q1", "add needs a queue name and a device path", BatchVerb::Add, "", ""},
      {"set UI_Port", "set needs a setting and its value", BatchVerb::Set, "", ""},
      {"remove", "remove needs a queue name", BatchVerb::Remove, "", ""},
      {"remove Q2 Q3", "remove takes one queue name and nothing more", BatchVerb::Remove, "", ""},
      {"Add Q1 /dev/null", "a change begins with add, remove or set", BatchVerb::Add, "", ""},
      {"-p Q1 -o /dev/null", "a change begins with add, remove or set", BatchVerb::Add, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    BatchChange change;
    const char* problem = parseBatchLine(c.text, change);
    EXPECT_STREQ(problem, c.problem);
    if (c.problem != nullptr) continue;
    EXPECT_EQ(change.verb, c.verb);
    EXPECT_EQ(change.name, c.name);
    EXPECT_EQ(change.value, c.value);
  }
}

}  // namespace
}  // namespace zorv
