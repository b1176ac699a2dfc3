#include "io/problem_report.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace zorv {
namespace {

std::string& kept() {
  static std::string text;
  return text;
}

}  // namespace

void reportProblem(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::vector<char> text(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  std::fprintf(stderr, "zorvadmin: %s\n", text.data());
  kept() = text.data();
}

void noteProblem(std::string text) { kept() = std::move(text); }

std::string_view lastProblem() { return kept(); }

}  // namespace zorv
