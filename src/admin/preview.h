// --dry-run: the change a run would make, shown as a unified diff.
#pragma once

#include <string>
#include <string_view>

namespace zorv {

// Prints the unified diff from the file at path to newContent on standard
// output, with the headers "--- PATH" and "+++ PATH (new)"; nothing when
// they are equal. Nothing is written to disk: the new content is handed to
// diff(1) through a memory file. Returns 0, or -1 after a message.
int printPreview(const std::string& path, std::string_view newContent);

}  // namespace zorv
