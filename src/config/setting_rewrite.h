// What a --set rewrite writes: the setting's line in place of each of its
// lines, or, where its section has none, before the section's closing tag,
// or a whole section of its own at the end of a file that has none.
#pragma once

#include <string>
#include <string_view>

#include "config/config_format.h"

namespace zorv {

// The section a setting belongs to, and its tags.
struct SettingHome {
  std::string_view open;
  std::string_view close;
};

// UI_Port lives in <Ports>, the paths in <Path>.
inline SettingHome homeOf(std::string_view key) {
  if (key == keyword::kUiPort) return {tag::kPortsOpen, tag::kPortsClose};
  return {tag::kPathOpen, tag::kPathClose};
}

// "KEY VALUE\n", as the tool writes a setting.
inline std::string settingLine(std::string_view key, std::string_view value) {
  return std::string(key) + " " + std::string(value) + "\n";
}

// The setting in a section of its own, for a file without one.
inline std::string settingSection(std::string_view key, std::string_view value) {
  const SettingHome home = homeOf(key);
  return "\n" + std::string(home.open) + "\n" + settingLine(key, value) + std::string(home.close) + "\n";
}

}  // namespace zorv
