#include "io/escaping.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "io/text_field.h"

namespace zorv {
namespace {

constexpr std::string_view kPlainPunctuation = "/._-+:@%,=~^";

std::uint8_t byteOf(char c) { return static_cast<std::uint8_t>(c); }

void appendHex(std::string& out, char c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byteOf(c) >> 4];
  out += kDigits[byteOf(c) & 0xfu];
}

// Tab, newline and backslash by name, as --tsv has always written them.
bool appendNamed(std::string& out, char c) {
  switch (c) {
    case '\t': out += "\\t"; return true;
    case '\n': out += "\\n"; return true;
    case '\\': out += "\\\\"; return true;
    default: return false;
  }
}

// A C1 control, valid UTF-8 that utf8CharacterLength refuses.
bool isC1Control(std::string_view text, std::size_t at) {
  return at + 1 < text.size() && byteOf(text[at]) == 0xc2 && byteOf(text[at + 1]) >= 0x80 &&
         byteOf(text[at + 1]) <= 0x9f;
}

std::string recordField(std::string_view text, bool validUtf8Only, bool keepC1 = false) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (appendNamed(out, c)) continue;
    if (isControlCharacter(c)) {
      appendHex(out, c);
    } else if (byteOf(c) < 0x80 || !validUtf8Only) {
      out += c;
    } else if (keepC1 && isC1Control(text, at)) {
      out += text.substr(at++, 2);
    } else if (const std::size_t length = utf8CharacterLength(text, at); length > 0) {
      out += text.substr(at, length);
      at += length - 1;
    } else {
      appendHex(out, c);
    }
  }
  return out;
}

std::string terminalText(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (isControlCharacter(c)) {
      appendHex(out, c);
    } else {
      out += c;
    }
  }
  return out;
}

std::string diffText(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    const std::size_t length = byteOf(c) < 0x80 ? 0 : utf8CharacterLength(text, at);
    if (c == '\n' || c == '\t' || (byteOf(c) < 0x80 && !isControlCharacter(c))) {
      out += c;
    } else if (length > 0) {
      out += text.substr(at, length);
      at += length - 1;
    } else {
      appendHex(out, c);
    }
  }
  return out;
}

bool plain(char c) {
  return byteOf(c) >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         kPlainPunctuation.find(c) != std::string_view::npos;
}

std::string syslogValue(std::string_view value) {
  if (!value.empty() && std::all_of(value.begin(), value.end(), plain)) return std::string(value);
  std::string out = "'";
  for (const char c : value) {
    if (c == '\'' || c == '\\') {
      out += '\\';
      out += c;
    } else if (isControlCharacter(c)) {
      appendHex(out, c);
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace

std::string escaped(std::string_view text, Escaping policy) {
  switch (policy) {
    case Escaping::TsvField: return recordField(text, false);
    case Escaping::TerminalText: return terminalText(text);
    case Escaping::SyslogValue: return syslogValue(text);
    case Escaping::HardwareText: return recordField(text, true);
    case Escaping::JsonString: return recordField(text, true, true);
    case Escaping::DiffText: return diffText(text);
  }
  return terminalText(text);
}

std::size_t utf8CharacterLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return byteOf(text[i]); };
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

}  // namespace zorv
