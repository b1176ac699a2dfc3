// --dry-run: the change a run would make, shown as a unified diff.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zorv {

// Prints the unified diff from the file at path to newContent on standard
// output, with the headers "--- PATH" and "+++ PATH (new)"; nothing when
// they are equal. Nothing is written to disk: the new content is handed to
// diff(1) through a memory file. Returns 0, or -1 after a message.
int printPreview(const std::string& path, std::string_view newContent);

// While one is alive and active, printPreview keeps the diff here instead
// of printing it, for a run that prints one document at the end (--json).
class PreviewCapture {
 public:
  explicit PreviewCapture(bool active);
  ~PreviewCapture();
  PreviewCapture(const PreviewCapture&) = delete;
  PreviewCapture& operator=(const PreviewCapture&) = delete;

  // The diff, once a preview was made; "" when nothing would change.
  const std::optional<std::string>& diff() const { return diff_; }

 private:
  friend int printPreview(const std::string& path, std::string_view newContent);
  bool active_;
  std::optional<std::string> diff_;
};

}  // namespace zorv
