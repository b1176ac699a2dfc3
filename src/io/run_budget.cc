#include "io/run_budget.h"

#include <cstdlib>
#include <string_view>

namespace zorv {

int timeoutSeconds(const char* variable, int fallback) {
  const char* value = secure_getenv(variable);
  if (value == nullptr) return fallback;
  const std::string_view digits = value;
  // At most four digits, so no overflow, and no sign, space or suffix.
  if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return fallback;
  }
  const int seconds = std::atoi(value);
  return seconds >= 1 && seconds <= 3600 ? seconds : fallback;
}

}  // namespace zorv
