#include "spooler/ipp_codec.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace zorv {
namespace {

// The delimiter tags that open and end groups, then the value tags.
enum Tag : unsigned char {
  kOperationGroup = 0x01, kEndOfAttributes = 0x03, kPrinterGroup = 0x04,
  kInteger = 0x21, kEnum = 0x23, kTextWithLanguage = 0x35, kText = 0x41, kName = 0x42,
  kKeyword = 0x44, kUri = 0x45, kCharset = 0x47, kLanguage = 0x48, kExtension = 0x7F,
};

void putShort(std::string& out, std::size_t value) {
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
  out.push_back(static_cast<char>(value & 0xFF));
}

void putInt(std::string& out, std::uint32_t value) {
  putShort(out, value >> 16);
  putShort(out, value & 0xFFFF);
}

// One value; an empty name makes it another value of the attribute before.
void putValue(std::string& out, Tag tag, std::string_view name, std::string_view value) {
  out.push_back(static_cast<char>(tag));
  putShort(out, name.size());
  out.append(name);
  putShort(out, value.size());
  out.append(value);
}

void putNumber(std::string& out, Tag tag, std::string_view name, int value) {
  std::string bytes;
  putInt(bytes, static_cast<std::uint32_t>(value));
  putValue(out, tag, name, bytes);
}

std::uint32_t number(std::string_view bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The text of a text or textWithLanguage value.
std::string textOf(Tag tag, std::string_view value) {
  if (tag == kText) return std::string(value);
  if (value.size() < 2) return {};
  const std::size_t language = number(value, 0, 2);
  if (value.size() < 4 + language) return {};
  return std::string(value.substr(4 + language, number(value, 2 + language, 2)));
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

template <typename Number>
bool parseNumber(std::string_view text, Number& value, int base = 10) {
  text = trimmed(text);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && (end == text.data() + text.size() || base == 16);
}

}  // namespace

std::string encodeIppRequest(const IppRequest& request, std::int32_t requestId) {
  std::string out;
  putShort(out, 0x0200);
  putShort(out, static_cast<std::uint16_t>(request.operation));
  putInt(out, static_cast<std::uint32_t>(requestId));
  out.push_back(static_cast<char>(kOperationGroup));
  putValue(out, kCharset, "attributes-charset", "utf-8");
  putValue(out, kLanguage, "attributes-natural-language", "en");
  if (!request.printerUri.empty()) putValue(out, kUri, "printer-uri", request.printerUri);
  for (std::size_t i = 0; i < request.requestedAttributes.size(); ++i) {
    putValue(out, kKeyword, i == 0 ? "requested-attributes" : "", request.requestedAttributes[i]);
  }
  if (!request.userName.empty()) putValue(out, kName, "requesting-user-name", request.userName);
  if (request.printerType) putNumber(out, kEnum, "printer-type", *request.printerType);
  if (request.printerTypeMask) putNumber(out, kEnum, "printer-type-mask", *request.printerTypeMask);
  if (request.limit) putNumber(out, kInteger, "limit", *request.limit);
  out.push_back(static_cast<char>(kEndOfAttributes));
  return out;
}

std::string httpPost(std::string_view host, std::string_view body) {
  std::string out = "POST / HTTP/1.1\r\nHost: ";
  out.append(host);
  out.append("\r\nContent-Type: application/ipp\r\nContent-Length: ");
  out.append(std::to_string(body.size()));
  out.append("\r\n\r\n");
  out.append(body);
  return out;
}

bool decodeIppMessage(std::string_view body, IppAnswer& answer) {
  if (body.size() < 9) return false;
  answer.ippStatus = static_cast<int>(number(body, 2, 2));
  answer.requestId = static_cast<std::int32_t>(number(body, 4, 4));
  unsigned char group = 0;
  bool makeAndModelSeen = false;
  for (std::size_t at = 8; at < body.size();) {
    const auto tag = static_cast<unsigned char>(body[at++]);
    if (tag == kEndOfAttributes) return answer.decoded = true;
    if (tag < 0x10) {  // a new group; a printer group starts a printer
      group = tag;
      if (group == kPrinterGroup) answer.printers.emplace_back();
      continue;
    }
    if (tag == kExtension || at + 2 > body.size()) return false;
    const std::size_t nameLength = number(body, at, 2);
    if (at + 2 + nameLength + 2 > body.size()) return false;
    const std::string_view name = body.substr(at + 2, nameLength);
    at += 2 + nameLength;
    const std::size_t valueLength = number(body, at, 2);
    if (at + 2 + valueLength > body.size()) return false;
    const std::string_view value = body.substr(at + 2, valueLength);
    at += 2 + valueLength;
    const Tag valueTag = static_cast<Tag>(tag);
    if (group == kOperationGroup && name == "status-message" && (valueTag == kText || valueTag == kTextWithLanguage)) {
      answer.statusMessage = textOf(valueTag, value);
    }
    if (group != kPrinterGroup) continue;
    IppPrinter& printer = answer.printers.back();
    if (name == "printer-name" && valueTag == kName) printer.name = std::string(value);
    if (name == "printer-type" && valueTag == kEnum && value.size() == 4) printer.type = static_cast<int>(number(value, 0, 4));
    if (name == "printer-make-and-model" && !makeAndModelSeen && (valueTag == kText || valueTag == kTextWithLanguage)) {
      answer.makeAndModel = textOf(valueTag, value);
      makeAndModelSeen = true;
    }
  }
  return false;
}

// The status line and headers, once all have come; 1xx answers are skipped.
bool HttpAnswerReader::takeHeaders() {
  while (true) {
    const std::size_t end = buffer_.find("\r\n\r\n", at_);
    if (end == std::string::npos) return false;
    const std::string_view head(buffer_.data() + at_, end - at_);
    at_ = end + 4;
    if (head.substr(0, 5) != "HTTP/" || head.size() < 12 || !parseNumber(head.substr(9, 3), status_)) {
      malformed_ = true;
      return false;
    }
    if (status_ < 200) continue;
    length_.reset();
    chunked_ = false;
    for (std::size_t line = head.find("\r\n"); line != std::string_view::npos;) {
      const std::size_t next = head.find("\r\n", line + 2);
      const std::string_view field = head.substr(line + 2, next == std::string_view::npos ? next : next - line - 2);
      const std::size_t colon = field.find(':');
      const std::string_view key = field.substr(0, colon);
      const std::string_view value = colon == std::string_view::npos ? "" : trimmed(field.substr(colon + 1));
      std::size_t length = 0;
      if (sameIgnoringCase(key, "Content-Length") && parseNumber(value, length)) length_ = length;
      if (sameIgnoringCase(key, "Transfer-Encoding") && sameIgnoringCase(value, "chunked")) chunked_ = true;
      line = next;
    }
    inBody_ = true;
    return true;
  }
}

// The whole chunked body, once its last chunk and trailer have come.
bool HttpAnswerReader::takeChunks(std::string& body) {
  for (std::size_t at = at_;;) {
    const std::size_t lineEnd = buffer_.find("\r\n", at);
    if (lineEnd == std::string::npos) return false;
    std::size_t size = 0;
    if (!parseNumber(std::string_view(buffer_).substr(at, lineEnd - at), size, 16)) {
      malformed_ = true;
      return false;
    }
    at = lineEnd + 2;
    if (size == 0) {  // trailer fields, up to an empty line
      const std::size_t end = buffer_.find("\r\n\r\n", at - 2);
      if (end == std::string::npos) return false;
      at_ = end + 4;
      return true;
    }
    if (buffer_.size() < at + size + 2) return false;
    body.append(buffer_, at, size);
    at += size + 2;
  }
}

bool HttpAnswerReader::next(IppAnswer& answer, bool closed) {
  if (malformed_ || (!inBody_ && !takeHeaders())) return false;
  std::string body;
  if (chunked_) {
    if (!takeChunks(body)) return false;
  } else if (length_) {
    if (buffer_.size() - at_ < *length_) return false;
    body.assign(buffer_, at_, *length_);
    at_ += *length_;
  } else {
    if (!closed) return false;
    body.assign(buffer_, at_);
    at_ = buffer_.size();
  }
  buffer_.erase(0, at_);
  at_ = 0;
  inBody_ = false;
  answer = IppAnswer{};
  answer.httpStatus = status_;
  decodeIppMessage(body, answer);
  return true;
}

}  // namespace zorv
