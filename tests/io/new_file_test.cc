#include "io/new_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace zorv {
namespace {

// A name that is taken falls back to the name with six random letters or
// digits: a fixed fallback would be another name that someone can take
// first, and would always be taken by the run before.
TEST(NewFile, TakenNameFallsBackToARandomName) {
  char pattern[] = "/tmp/zorv-new-file-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string directory = pattern;
  const std::string name = directory + "/new";
  std::FILE* taken = std::fopen(name.c_str(), "w");
  ASSERT_NE(taken, nullptr);
  std::fclose(taken);
  std::set<std::string> fallbacks;
  for (int i = 0; i < 4; ++i) {
    NewFile file = NewFile::create(name, 0600);
    ASSERT_TRUE(file.valid());
    ASSERT_EQ(file.write("x"), 0);
    ASSERT_EQ(file.commit(directory + "/target"), 0);
    const std::string path = file.path();
    ASSERT_EQ(path.size(), name.size() + 6) << path;
    EXPECT_EQ(path.substr(0, name.size()), name);
    EXPECT_EQ(path.substr(name.size()).find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              std::string::npos)
        << path;
    fallbacks.insert(path);
  }
  EXPECT_EQ(fallbacks.size(), 4u);
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace zorv
