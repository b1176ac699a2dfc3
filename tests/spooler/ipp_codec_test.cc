// The scheduler codec against libcups's own reading and writing of IPP:
// what zorvadmin sends, libcups reads as meant; what a scheduler built with
// libcups sends back, zorvadmin reads, however the bytes are cut.
#include "spooler/ipp_codec.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <cstring>

#include "support/ipp_bytes.h"

namespace zorv {
namespace {

using test::readFrom;
using test::writeTo;

ipp_t* newAnswer(ipp_op_t operation, ipp_status_t status) {
  ipp_t* request = ippNewRequest(operation);
  ipp_t* answer = ippNewResponse(request);
  ippDelete(request);
  ippSetStatusCode(answer, status);
  return answer;
}

std::string bytesOf(ipp_t* message) {
  std::string out;
  EXPECT_EQ(ippWriteIO(&out, writeTo, 1, nullptr, message), IPP_STATE_DATA);
  ippDelete(message);
  return out;
}

// Each attribute libcups reads, as "name=value,value" lines.
std::string readByLibcups(const std::string& bytes, int& operation, int& requestId) {
  std::string_view source = bytes;
  ipp_t* message = ippNew();
  EXPECT_EQ(ippReadIO(&source, readFrom, 1, nullptr, message), IPP_STATE_DATA);
  EXPECT_TRUE(source.empty());
  operation = ippGetOperation(message);
  requestId = ippGetRequestId(message);
  std::string seen;
  for (ipp_attribute_t* attr = ippFirstAttribute(message); attr != nullptr; attr = ippNextAttribute(message)) {
    char value[256];
    ippAttributeString(attr, value, sizeof(value));
    seen += std::string(ippGetName(attr)) + "=" + value + "\n";
  }
  ippDelete(message);
  return seen;
}

TEST(IppCodec, RequestsReadByLibcupsAsMeant) {
  IppRequest list;
  list.operation = IppOperation::CupsGetPrinters;
  list.requestedAttributes = {"printer-name", "printer-type"};
  list.userName = "ana";
  list.printerType = 0;
  list.printerTypeMask = CUPS_PRINTER_DISCOVERED;
  list.limit = 64;
  IppRequest one;
  one.printerUri = "ipp://localhost:631/printers/Q%201";
  one.requestedAttributes = {"printer-make-and-model"};
  const struct {
    IppRequest request;
    int operation;
    std::string attributes;
  } cases[] = {
      {list, IPP_OP_CUPS_GET_PRINTERS,
       "attributes-charset=utf-8\nattributes-natural-language=en\nrequested-attributes=printer-name,printer-type\n"
       "requesting-user-name=ana\nprinter-type=0\nprinter-type-mask=16777216\nlimit=64\n"},
      {one, IPP_OP_GET_PRINTER_ATTRIBUTES,
       "attributes-charset=utf-8\nattributes-natural-language=en\nprinter-uri=ipp://localhost:631/printers/Q%201\n"
       "requested-attributes=printer-make-and-model\n"},
  };
  for (const auto& c : cases) {
    int operation = 0;
    int requestId = 0;
    EXPECT_EQ(readByLibcups(encodeIppRequest(c.request, 70000), operation, requestId), c.attributes);
    EXPECT_EQ(operation, c.operation);
    EXPECT_EQ(requestId, 70000);
  }
  const std::string post = httpPost("localhost", "body");
  EXPECT_EQ(post, "POST / HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/ipp\r\nContent-Length: 4\r\n\r\nbody");
}

// A scheduler's answer: two printers, one discovered, between groups that
// must not leak into them.
std::string twoPrinters() {
  ipp_t* answer = newAnswer(IPP_OP_CUPS_GET_PRINTERS, IPP_STATUS_OK);
  ippSetRequestId(answer, 7);
  ippAddString(answer, IPP_TAG_OPERATION, IPP_TAG_NAME, "printer-name", nullptr, "NotAPrinter");
  ippAddString(answer, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, "Q1");
  ippAddInteger(answer, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-type", 4);
  ippAddString(answer, IPP_TAG_PRINTER, IPP_TAG_TEXTLANG, "printer-make-and-model", "de", "Laser 1");
  ippAddSeparator(answer);
  ippAddString(answer, IPP_TAG_PRINTER, IPP_TAG_NAMELANG, "printer-name", "en", "Ignored");
  ippAddString(answer, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, "Remote");
  ippAddInteger(answer, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-type", CUPS_PRINTER_DISCOVERED);
  ippAddString(answer, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-make-and-model", nullptr, "Second");
  return bytesOf(answer);
}

std::string notFound() {
  ipp_t* answer = newAnswer(IPP_OP_GET_PRINTER_ATTRIBUTES, IPP_STATUS_ERROR_NOT_FOUND);
  ippAddString(answer, IPP_TAG_OPERATION, IPP_TAG_TEXT, "status-message", nullptr, "The printer does not exist.");
  return bytesOf(answer);
}

TEST(IppCodec, AnswersReadAsLibcupsWroteThem) {
  const std::string printers = twoPrinters();
  const std::string missing = notFound();
  const struct {
    const char* what;
    std::string body;
    bool decoded;
    int status;
    std::string printers;  // "name:type " each
    std::string model;
    std::string message;
  } cases[] = {
      {"printers", printers, true, 0, "Q1:4 Remote:16777216 ", "Laser 1", ""},
      {"no such queue", missing, true, 0x0406, "", "", "The printer does not exist."},
      {"cut in the last value", printers.substr(0, printers.size() - 3), false, 0, "", "", ""},
      {"cut before the end tag", printers.substr(0, printers.size() - 1), false, 0, "", "", ""},
      {"no header", "\x02", false, 0, "", "", ""},
      {"an extension tag", missing.substr(0, 8) + "\x01\x7f\x00\x00\x00\x00", false, 0, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    IppAnswer answer;
    EXPECT_EQ(decodeIppMessage(c.body, answer), c.decoded);
    if (!c.decoded) continue;
    EXPECT_EQ(answer.ippStatus, c.status);
    std::string seen;
    for (const IppPrinter& printer : answer.printers) seen += printer.name + ":" + std::to_string(printer.type) + " ";
    EXPECT_EQ(seen, c.printers);
    EXPECT_EQ(answer.makeAndModel, c.model);
    EXPECT_EQ(answer.statusMessage, c.message);
  }
}

// Answers in a stream: each framing, fed a byte at a time and whole.
TEST(IppCodec, HttpAnswersCutFromAStream) {
  const std::string body = twoPrinters();
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\n";
  std::string chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
  for (std::size_t at = 0; at < body.size(); at += 40) {
    const std::string piece = body.substr(at, 40);
    char size[16];
    std::snprintf(size, sizeof(size), "%zx\r\n", piece.size());
    chunked += size + piece + "\r\n";
  }
  chunked += "0\r\n\r\n";
  const std::string sized = ok + "content-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  const struct {
    const char* what;
    std::string stream;
    std::vector<int> statuses;  // of the answers, in order
    bool malformed;
  } cases[] = {
      {"two sized answers", sized + sized, {200, 200}, false},
      {"chunked, then sized", chunked + sized, {200, 200}, false},
      {"continue first", "HTTP/1.1 100 Continue\r\n\r\n" + sized, {200}, false},
      {"refused, empty", "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n" + sized, {403, 200}, false},
      {"body to the close", ok + "\r\n" + body, {200}, false},
      {"not HTTP", "SSH-2.0\r\n\r\n", {}, true},
  };
  for (const auto& c : cases) {
    for (const std::size_t step : {std::size_t{1}, c.stream.size()}) {
      SCOPED_TRACE(std::string(c.what) + " in blocks of " + std::to_string(step));
      HttpAnswerReader reader;
      std::vector<IppAnswer> answers;
      for (std::size_t at = 0; at <= c.stream.size(); at += step) {
        reader.feed(std::string_view(c.stream).substr(at, step));
        const bool closed = at + step > c.stream.size();
        for (IppAnswer answer; reader.next(answer, closed);) answers.push_back(answer);
      }
      EXPECT_EQ(reader.malformed(), c.malformed);
      ASSERT_EQ(answers.size(), c.statuses.size());
      for (std::size_t i = 0; i < answers.size(); ++i) {
        EXPECT_EQ(answers[i].httpStatus, c.statuses[i]);
        EXPECT_EQ(answers[i].printers.size(), c.statuses[i] == 200 ? 2U : 0U);
      }
    }
  }
}

}  // namespace
}  // namespace zorv
