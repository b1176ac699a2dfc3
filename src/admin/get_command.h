// --get QUEUE: the device path of one entry, for scripts; changes nothing.
#pragma once

#include <string>
#include <string_view>

namespace zorv {

// Prints the device path of queue's entry; 2 when the file has none, 3 when
// it cannot be read.
int printDevicePath(const std::string& path, std::string_view queue);

}  // namespace zorv
