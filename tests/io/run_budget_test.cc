#include "io/run_budget.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace zorv {
namespace {

TEST(TimeoutSeconds, WholeSecondsFromOneTo3600ElseTheFallback) {
  const struct {
    const char* value;  // null: unset
    int seconds;
  } cases[] = {
      {nullptr, 10}, {"1", 1},   {"3600", 3600}, {"0042", 42}, {"0", 10},     {"3601", 10},  {"-1", 10},
      {"+5", 10},    {" 5", 10}, {"5 ", 10},     {"5s", 10},   {"1.5", 10},   {"", 10},      {"99999999999", 10},
  };
  for (const auto& c : cases) {
    if (c.value != nullptr) {
      ::setenv("ZORV_TEST_TIMEOUT", c.value, 1);
    } else {
      ::unsetenv("ZORV_TEST_TIMEOUT");
    }
    EXPECT_EQ(timeoutSeconds("ZORV_TEST_TIMEOUT", 10), c.seconds) << (c.value != nullptr ? c.value : "unset");
  }
  ::unsetenv("ZORV_TEST_TIMEOUT");
}

}  // namespace
}  // namespace zorv
