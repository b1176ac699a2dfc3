// --devices: every printer device present, with its stable names, who the
// printer says it is and the entries that lead to it, then the entries
// whose device is not present; a table, or records or a JSON document
// for scripts.
#pragma once

namespace zorv {

// Reads the configuration (none is fine: devices are listed all the same)
// and returns the exit status; needs no root and changes nothing.
int printDevices(bool tsv, bool json = false);

}  // namespace zorv
