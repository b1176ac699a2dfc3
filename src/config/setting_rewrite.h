// --set's rewrite: the one line that sets the key is replaced, or, where its
// section has none, the line is added before the section's closing tag (or
// in a section of its own at the end of a file without one); every other
// byte is copied as it is. A key the file sets ambiguously is refused, and
// --check reports the same ambiguities.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_pass.h"

namespace zorv {

// Rewrites files.config for request (RewriteMode::SetValue) into output. A
// key set on two lines of its section, or a line that begins with the key
// and goes on with other characters (read as the key all the same), is
// refused before a byte is written. The content returned holds nothing.
ConfigRead rewriteSetting(const ConfigFiles& files, const RewriteRequest& request, const ByteSink& output);

struct SettingFinding {
  int line;
  std::string message;
};

// Adds the ambiguous settings of files.config to findings, as --check
// reports them: at most two per key, whatever the file's size. 0, or -1
// after reporting a file that cannot be read or is longer than maxBytes
// (0: no bound).
int findAmbiguousSettings(const ConfigFiles& files, std::uint64_t maxBytes, std::vector<SettingFinding>& findings);

}  // namespace zorv
