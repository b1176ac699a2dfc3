#include "devices/device_id.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "io/escaping.h"

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

std::string escapeText(std::string_view text) { return escaped(text, Escaping::HardwareText); }

std::string shownText(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return escapeText(text);
  // Whole characters only; a byte that is not valid UTF-8 counts as one.
  std::size_t cut = 0;
  for (;;) {
    const std::size_t length = std::max<std::size_t>(1, utf8CharacterLength(text, cut));
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
