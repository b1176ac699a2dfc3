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

std::string formatted(const char* format, std::va_list arguments) {
  std::va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  std::vector<char> text(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  return text.data();
}

}  // namespace

void reportProblem(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::string text = formatted(format, arguments);
  va_end(arguments);
  std::fprintf(stderr, "zorvadmin: %s\n", text.c_str());
  kept() = std::move(text);
}

void reportAside(Aside kind, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const std::string text = formatted(format, arguments);
  va_end(arguments);
  std::fprintf(stderr, "zorvadmin: %s%s\n", kind == Aside::Warning ? "warning: " : "", text.c_str());
}

void reportProblemAsIs(std::string_view line) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  kept() = std::string(line);
}

void noteProblem(std::string text) { kept() = std::move(text); }

std::string_view lastProblem() { return kept(); }

}  // namespace zorv
