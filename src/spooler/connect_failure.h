// Why a connection to the print scheduler could not be made, in the
// system's words: libcups's own report after a failed connect is whatever
// its clean-up left in errno.
#pragma once

#include <string>

namespace zorv {

// Tries one plain connect to the server libcups is configured for.
std::string connectFailure();

}  // namespace zorv
