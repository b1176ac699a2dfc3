#include "spooler/queue_models.h"

#include <cups/cups.h>

#include "io/file_descriptor.h"
#include "spooler/bounded_child.h"

namespace zorv {
namespace {

// One Get-Printer-Attributes per queue on the default connection, so
// CUPS_SERVER and client.conf apply. The answer: "ok" or "failed", then the
// make and model of each queue, NUL-separated.
std::string askScheduler(const std::vector<std::string>& queues) {
  static const char* const kWanted[] = {"printer-name", "printer-make-and-model"};
  std::string answer;
  bool reached = false;
  for (const std::string& queue : queues) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    char uri[1024];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                     queue.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    reached = reached || response != nullptr;
    ipp_attribute_t* model =
        response != nullptr ? ippFindAttribute(response, "printer-make-and-model", IPP_TAG_TEXT) : nullptr;
    const char* value = model != nullptr ? ippGetString(model, 0, nullptr) : nullptr;
    answer.append(value != nullptr ? value : "");
    answer.push_back('\0');
    ippDelete(response);
  }
  return std::string(reached ? "ok" : "failed") + '\0' + answer;
}

QueueModels parseAnswer(const std::string& answer, std::size_t queues) {
  std::vector<std::string> fields;
  for (std::size_t at = 0, end; (end = answer.find('\0', at)) != std::string::npos; at = end + 1) {
    fields.push_back(answer.substr(at, end - at));
  }
  QueueModels result;
  if (fields.size() != queues + 1 || fields[0] != "ok") return result;
  result.answered = true;
  result.models.assign(fields.begin() + 1, fields.end());
  return result;
}

}  // namespace

QueueModels askQueueModels(const std::vector<std::string>& queues, std::chrono::seconds budget) {
  if (queues.empty()) return {true, {}};
  const ChildOutput output = runBoundedChild(std::chrono::steady_clock::now() + budget,
                                             [&queues](int fd) { writeAllBytes(fd, askScheduler(queues)); });
  return output.complete ? parseAnswer(output.bytes, queues.size()) : QueueModels{};
}

}  // namespace zorv
