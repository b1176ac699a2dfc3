// Every request zorvadmin makes of the print scheduler, and every answer it
// reads back, in bytes: IPP messages inside HTTP POSTs. No libcups here, so
// that requests can be sent one after the other without waiting (pipelined)
// and answers read in large blocks, and so the codec is tested in process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

enum class IppOperation : std::uint16_t {
  GetPrinterAttributes = 0x000B,
  CupsGetPrinters = 0x4002,
};

struct IppRequest {
  IppOperation operation = IppOperation::GetPrinterAttributes;
  std::string printerUri;                        // empty: none
  std::vector<std::string> requestedAttributes;  // empty: none
  std::string userName;                          // empty: none
  std::optional<int> printerType;                // with printerTypeMask, a filter on printer-type
  std::optional<int> printerTypeMask;
  std::optional<int> limit;
};

// The IPP message (version 2.0) for request, with this request-id.
std::string encodeIppRequest(const IppRequest& request, std::int32_t requestId);

// The HTTP/1.1 POST to "/" that carries body to a scheduler known as host.
std::string httpPost(std::string_view host, std::string_view body);

// The attributes zorvadmin reads of one printer group.
struct IppPrinter {
  std::string name;  // printer-name (nameWithoutLanguage); empty when none
  int type = 0;      // printer-type; 0 when none
};

struct IppAnswer {
  int httpStatus = 0;
  bool decoded = false;  // the body was a whole IPP message
  int ippStatus = 0;
  std::int32_t requestId = 0;
  std::string statusMessage;  // the status-message attribute, when any
  std::string makeAndModel;   // the first printer-make-and-model (text), when any
  std::vector<IppPrinter> printers;
};

// Reads the IPP message body into answer; false when it is not a whole,
// well-formed message.
bool decodeIppMessage(std::string_view body, IppAnswer& answer);

// Cuts a stream of HTTP/1.1 responses, fed in blocks of any size, into
// answers, in the order they came.
class HttpAnswerReader {
 public:
  void feed(std::string_view bytes) { buffer_.append(bytes); }
  // The next complete response; at end of stream (closed) a response
  // without a length ends there. False when none is complete yet.
  bool next(IppAnswer& answer, bool closed = false);
  // The stream cannot be read as HTTP responses.
  bool malformed() const { return malformed_; }

 private:
  bool takeHeaders();
  bool takeChunks(std::string& body);

  std::string buffer_;
  std::size_t at_ = 0;
  bool inBody_ = false;
  int status_ = 0;
  std::optional<std::size_t> length_;  // Content-Length, when given
  bool chunked_ = false;
  bool malformed_ = false;
};

}  // namespace zorv
