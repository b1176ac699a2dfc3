// --check: what is wrong with a configuration, changing nothing.
#pragma once

#include <string>
#include <string_view>

namespace zorv {

// Prints one "FILE:LINE: message" line per finding on standard output and
// returns the exit status: 0 nothing wrong, 2 something is, 3 the file
// cannot be read. Errors are what the daemon would misread or a rewrite
// would damage or drop; facts about the system around the file (queues,
// scheduler, printers.conf, devices) are warnings, which change the status
// only when strict. Creates no file.
// With json, one document with the findings and the status (json_output.h).
int checkConfig(const std::string& path, bool strict, bool json = false);

}  // namespace zorv
