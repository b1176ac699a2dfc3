// libcups's IPP reader and writer over bytes in memory, for the tests that
// play a scheduler or check the codec against libcups.
#pragma once

#include <cups/cups.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace zorv::test {

// ippReadIO's callback: takes bytes from the std::string_view at context.
inline ssize_t readFrom(void* context, ipp_uchar_t* buffer, size_t bytes) {
  auto* source = static_cast<std::string_view*>(context);
  const std::size_t count = std::min(bytes, source->size());
  std::memcpy(buffer, source->data(), count);
  source->remove_prefix(count);
  return static_cast<ssize_t>(count);
}

// ippWriteIO's callback: appends to the std::string at context.
inline ssize_t writeTo(void* context, ipp_uchar_t* buffer, size_t bytes) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(buffer), bytes);
  return static_cast<ssize_t>(bytes);
}

}  // namespace zorv::test
