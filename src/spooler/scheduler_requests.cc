#include "spooler/scheduler_requests.h"

#include <cups/cups.h>

#include <charconv>
#include <unordered_set>

#include "io/escaping.h"
#include "io/file_descriptor.h"
#include "io/text_field.h"
#include "spooler/scheduler_connection.h"

namespace zorv {
namespace {

constexpr int kIppLastSuccess = 0x0007;  // successful-ok-events-complete
constexpr int kIppBadRequest = 0x0400;
constexpr int kIppNotFound = 0x0406;
constexpr int kIppInternalError = 0x0500;

enum class Reply { Answered, NoSuchQueue, Failed };

// The scheduler's status message is its own text: quoted and escaped as
// any value, so that it can neither act on a terminal nor forge a line of
// the log that repeats it.
std::string statusMessage() { return escaped(cupsLastErrorString(), Escaping::SyslogValue); }

// A client error means the scheduler has no such queue for us; anything
// else that is not success means it could not answer.
Reply replyOf(const IppAnswer& answer) {
  if (answer.httpStatus != 200 || !answer.decoded) return Reply::Failed;
  if (answer.ippStatus <= kIppLastSuccess) return Reply::Answered;
  if (answer.ippStatus >= kIppBadRequest && answer.ippStatus < kIppInternalError) return Reply::NoSuchQueue;
  return Reply::Failed;
}

// Why an answer is no answer, in libcups's words.
std::string failureOf(const IppAnswer& answer) {
  if (answer.httpStatus != 200) return httpStatus(static_cast<http_status_t>(answer.httpStatus));
  if (!answer.decoded) return ippErrorString(IPP_STATUS_ERROR_INTERNAL);
  if (!answer.statusMessage.empty()) return escaped(answer.statusMessage, Escaping::SyslogValue);
  return ippErrorString(static_cast<ipp_status_t>(answer.ippStatus));
}

IppRequest requestFor(IppOperation operation, std::vector<std::string> attributes) {
  IppRequest request;
  request.operation = operation;
  request.requestedAttributes = std::move(attributes);
  request.userName = cupsUser();
  return request;
}

// The printers of an answer that are the scheduler's own queues, as
// cupsEnumDests keeps them when asked to leave out discovered printers.
void addLocalQueues(const IppAnswer& answer, std::vector<std::string>& names) {
  for (const IppPrinter& printer : answer.printers) {
    if (!printer.name.empty() && (printer.type & CUPS_PRINTER_DISCOVERED) == 0) names.push_back(printer.name);
  }
}

// The scheduler's own queues in one request, with the type filter
// cupsEnumDests uses for them; at most limit of them (0 for all).
SchedulerAnswer askList(SchedulerConnection& http, int limit) {
  IppRequest request = requestFor(IppOperation::CupsGetPrinters, {"printer-name", "printer-type"});
  request.printerType = 0;
  request.printerTypeMask = CUPS_PRINTER_DISCOVERED;
  if (limit > 0) request.limit = limit;
  const Exchange exchange = exchangeRequests(http, {request});
  if (exchange.answers.empty()) return {AnswerPart::LocalAll, false, exchange.failure, {}};
  const IppAnswer& answer = exchange.answers[0];
  // A scheduler without queues answers "not found".
  const Reply reply = replyOf(answer);
  if (reply == Reply::Failed || (reply == Reply::NoSuchQueue && answer.ippStatus != kIppNotFound)) {
    return {AnswerPart::LocalAll, false, failureOf(answer), {}};
  }
  SchedulerAnswer local{AnswerPart::LocalAll, true, {}, {}};
  addLocalQueues(answer, local.names);
  return local;
}

// Get-Printer-Attributes on each queue's URI, all sent at once: CUPS
// answers it for printers and classes, in any letter case, with the
// queue's own spelling. A name that makes no URI is no queue.
std::vector<IppAnswer> askEachQueue(SchedulerConnection& http, const std::vector<std::string>& names,
                                    std::vector<std::string> attributes, std::vector<const std::string*>& asked,
                                    std::string& failure) {
  std::vector<IppRequest> requests;
  for (const std::string& name : names) {
    IppRequest request = requestFor(IppOperation::GetPrinterAttributes, attributes);
    request.printerUri = queueUri(name);
    if (request.printerUri.empty()) continue;
    requests.push_back(std::move(request));
    asked.push_back(&name);
  }
  Exchange exchange = exchangeRequests(http, requests);
  failure = exchange.failure;
  return std::move(exchange.answers);
}

// A small scheduler is known whole from one short list, cheaper than a
// request per name; on a large one the names are asked each at once.
SchedulerAnswer askNamed(SchedulerConnection& http, const std::vector<std::string>& names) {
  SchedulerAnswer first = askList(http, static_cast<int>(kNamesAskedOneByOne));
  if (!first.answered || first.names.size() < kNamesAskedOneByOne) return first;
  std::vector<const std::string*> asked;
  std::string failure;
  const std::vector<IppAnswer> answers = askEachQueue(http, names, {"printer-name", "printer-type"}, asked, failure);
  SchedulerAnswer local{AnswerPart::Local, true, {}, {}};
  for (std::size_t i = 0; i < asked.size(); ++i) {
    if (i == answers.size()) return {AnswerPart::Local, false, failure, {}};
    const Reply reply = replyOf(answers[i]);
    if (reply == Reply::Failed) return {AnswerPart::Local, false, failureOf(answers[i]), {}};
    if (reply == Reply::NoSuchQueue) continue;
    std::vector<std::string> printers;
    addLocalQueues(answers[i], printers);
    // Only the queue of that very name counts, whatever else the URI reached.
    if (printers.size() == 1 && sameQueueName(printers[0], *asked[i])) local.names.push_back(printers[0]);
  }
  return local;
}

// The full list, DNS-SD included, exactly as cupsGetDests builds it.
SchedulerAnswer askWithBrowsing(http_t* http) {
  cups_dest_t* list = nullptr;
  const int count = cupsGetDests2(http, &list);
  SchedulerAnswer answer{AnswerPart::Browse, true, {}, {}};
  if (count == 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE && cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
    answer = {AnswerPart::Browse, false, statusMessage(), {}};
  }
  for (int i = 0; i < count; ++i) {
    if (list[i].instance == nullptr) answer.names.emplace_back(list[i].name);
  }
  cupsFreeDests(count, list);
  return answer;
}

bool allFound(const std::vector<std::string>& names, const std::vector<std::string>& found) {
  std::unordered_set<std::string> known;
  for (const std::string& name : found) known.insert(foldedQueueName(name));
  for (const std::string& name : names) {
    if (known.count(foldedQueueName(name)) == 0) return false;
  }
  return true;
}

void appendField(std::string& out, std::string_view field) {
  out.append(field);
  out.push_back('\0');
}

}  // namespace

void askWhichQueuesExist(const SchedulerQuestion& question, int fd) {
  std::string failure;
  SchedulerConnection http = connectScheduler(failure);
  if (http == nullptr) {
    writeAllBytes(fd, encodeAnswer({AnswerPart::Local, false, failure, {}}));
    return;
  }
  const SchedulerAnswer local = question.everyQueue ? askList(http, 0) : askNamed(http, question.names);
  writeAllBytes(fd, encodeAnswer(local));
  if (question.browse && local.answered && !allFound(question.names, local.names)) {
    writeAllBytes(fd, encodeAnswer(askWithBrowsing(http.get())));
  }
}

void askQueueModelsOf(const std::vector<std::string>& queues, int fd) {
  std::string failure;
  SchedulerConnection http = connectScheduler(failure);
  SchedulerAnswer models{AnswerPart::Models, false, failure, std::vector<std::string>(queues.size())};
  if (http != nullptr) {
    std::vector<const std::string*> asked;
    const std::vector<IppAnswer> answers =
        askEachQueue(http, queues, {"printer-name", "printer-make-and-model"}, asked, models.failure);
    // Answers come in the order asked; a name without a URI has no model.
    for (std::size_t i = 0, at = 0; i < answers.size(); ++i, ++at) {
      while (&queues[at] != asked[i]) ++at;
      models.names[at] = answers[i].makeAndModel;
    }
    models.answered = !answers.empty();
  }
  writeAllBytes(fd, encodeAnswer(models));
}

// NUL-terminated fields: the part, "1" when answered, the failure, the
// number of names, the names, then "." so a cut answer is seen as such.
std::string encodeAnswer(const SchedulerAnswer& answer) {
  std::string out;
  appendField(out, std::string(1, static_cast<char>(answer.part)));
  appendField(out, answer.answered ? "1" : "0");
  appendField(out, answer.failure);
  appendField(out, std::to_string(answer.names.size()));
  for (const std::string& name : answer.names) appendField(out, name);
  appendField(out, ".");
  return out;
}

std::vector<SchedulerAnswer> decodeAnswers(std::string_view bytes) {
  std::vector<SchedulerAnswer> answers;
  std::size_t at = 0;
  const auto next = [&](std::string_view& field) {
    const std::size_t end = bytes.find('\0', at);
    if (end == std::string_view::npos) return false;
    field = bytes.substr(at, end - at);
    at = end + 1;
    return true;
  };
  for (std::string_view part, answered, failure, count; next(part) && next(answered) && next(failure) && next(count);) {
    SchedulerAnswer answer{static_cast<AnswerPart>(part.empty() ? 0 : part[0]), answered == "1", std::string(failure), {}};
    std::size_t names = 0;
    if (std::from_chars(count.data(), count.data() + count.size(), names).ec != std::errc()) break;
    std::string_view name;
    while (answer.names.size() < names && next(name)) answer.names.emplace_back(name);
    std::string_view end;
    if (answer.names.size() < names || !next(end) || end != ".") break;
    answers.push_back(std::move(answer));
  }
  return answers;
}

}  // namespace zorv
