#include "devices/device_id.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace zorv {
namespace {

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool sameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

void takeValue(std::string& field, std::string_view key, std::string_view value,
               std::initializer_list<std::string_view> keys) {
  if (!field.empty()) return;
  for (const std::string_view name : keys) {
    if (sameKey(key, name)) field = value;
  }
}

// The length of the valid UTF-8 character at text[at], or 0 when the bytes
// there are not one (overlong forms, surrogates and values past U+10FFFF
// included).
std::size_t utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  std::size_t length = 0;
  std::uint32_t value = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, value = lead & 0x1fu;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, value = lead & 0x0fu;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, value = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0u) != 0x80u) return 0;
    value = (value << 6) | (byte(at + i) & 0x3fu);
  }
  const std::array<std::uint32_t, 5> smallest{0, 0, 0x80, 0x800, 0x10000};
  if (value < smallest[length] || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return 0;
  // C1 controls act on terminals like the ASCII ones.
  if (value >= 0x80 && value <= 0x9f) return 0;
  return length;
}

void appendHex(std::string& out, char c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto byte = static_cast<std::uint8_t>(c);
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0xfu];
}

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> found(1);
  for (const char c : text) {
    const bool digit = c >= '0' && c <= '9';
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (digit || letter) {
      found.back() += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    } else if (!found.back().empty()) {
      found.emplace_back();
    }
  }
  if (found.back().empty()) found.pop_back();
  return found;
}

}  // namespace

DeviceIdentity parseDeviceId(std::string_view id) {
  DeviceIdentity identity;
  while (!id.empty()) {
    const std::size_t end = id.find(';');
    const std::string_view pair = id.substr(0, end);
    id = end == std::string_view::npos ? std::string_view() : id.substr(end + 1);
    const std::size_t colon = pair.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view key = trimmed(pair.substr(0, colon));
    const std::string_view value = trimmed(pair.substr(colon + 1));
    takeValue(identity.make, key, value, {"MFG", "MANUFACTURER"});
    takeValue(identity.model, key, value, {"MDL", "MODEL"});
    takeValue(identity.serial, key, value, {"SN", "SERN", "SERIALNUMBER"});
  }
  return identity;
}

std::string escapeText(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const auto byte = static_cast<std::uint8_t>(c);
    if (c == '\t' || c == '\n' || c == '\\') {
      out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\\\";
      ++at;
    } else if (byte >= 0x20 && byte < 0x7f) {
      out += c;
      ++at;
    } else if (const std::size_t length = byte >= 0x80 ? utf8Length(text, at) : 0; length > 0) {
      out += text.substr(at, length);
      at += length;
    } else {
      appendHex(out, c);
      ++at;
    }
  }
  return out;
}

std::string shownText(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return escapeText(text);
  // Whole characters only; a byte that is not valid UTF-8 counts as one.
  std::size_t cut = 0;
  for (;;) {
    const std::size_t length = std::max<std::size_t>(1, utf8Length(text, cut));
    if (cut + length > maxBytes) break;
    cut += length;
  }
  return escapeText(text.substr(0, cut)) + "...";
}

ModelVerdict compareModel(std::string_view deviceModel, std::string_view makeAndModel) {
  // What the scheduler reports for a queue without a driver says nothing.
  if (makeAndModel == "Local Raw Printer") return ModelVerdict::Unknown;
  const std::vector<std::string> model = words(deviceModel);
  const std::vector<std::string> named = words(makeAndModel);
  if (model.empty() || named.empty()) return ModelVerdict::Unknown;
  for (std::size_t start = 0; start + model.size() <= named.size(); ++start) {
    bool all = true;
    for (std::size_t i = 0; i < model.size() && all; ++i) all = named[start + i] == model[i];
    if (all) return ModelVerdict::Matches;
  }
  return ModelVerdict::Differs;
}

}  // namespace zorv
