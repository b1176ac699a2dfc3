// The queue names a configuration file's printer blocks give, read before
// the run's lock is taken, so the scheduler can be asked about all of them
// at once. A quick read only: the locked pass decides what the file holds,
// and a name missed here is still looked up then, at a higher cost.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zorv {

// The names of the first limit blocks of path; none when it cannot be read.
std::vector<std::string> namedQueues(const std::string& path, std::size_t limit);

}  // namespace zorv
