#include "spooler/scheduler_requests.h"

#include <cups/cups.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <memory>
#include <unordered_set>

#include "io/escaping.h"
#include "io/file_descriptor.h"
#include "io/text_field.h"

namespace zorv {
namespace {

struct HttpClose {
  void operator()(http_t* http) const { httpClose(http); }
};
struct IppDelete {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Connection = std::unique_ptr<http_t, HttpClose>;
using Response = std::unique_ptr<ipp_t, IppDelete>;

constexpr const char* kAttributes[] = {"printer-name", "printer-type"};

enum class Reply { Answered, NoSuchQueue, Failed };

// The scheduler's status message is its own text: quoted and escaped as
// any value, so that it can neither act on a terminal nor forge a line of
// the log that repeats it.
std::string statusMessage() { return escaped(cupsLastErrorString(), Escaping::SyslogValue); }

// A client error means the scheduler has no such queue for us; anything
// else that is not success means it could not answer.
Reply replyOf(const Response& response) {
  const ipp_status_t status = cupsLastError();
  if (response != nullptr && status <= IPP_STATUS_OK_EVENTS_COMPLETE) return Reply::Answered;
  if (response != nullptr && status >= IPP_STATUS_ERROR_BAD_REQUEST && status < IPP_STATUS_ERROR_INTERNAL) {
    return Reply::NoSuchQueue;
  }
  return Reply::Failed;
}

ipp_t* newRequest(ipp_op_t operation) {
  ipp_t* request = ippNewRequest(operation);
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kAttributes);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

// The printers of a response that are the scheduler's own queues, as
// cupsEnumDests keeps them when asked to leave out discovered printers.
void addLocalQueues(const Response& response, std::vector<std::string>& names) {
  std::string name;
  int type = 0;
  const auto endOfPrinter = [&] {
    if (!name.empty() && (type & CUPS_PRINTER_DISCOVERED) == 0) names.push_back(name);
    name.clear();
    type = 0;
  };
  for (ipp_attribute_t* attr = ippFirstAttribute(response.get()); attr != nullptr;
       attr = ippNextAttribute(response.get())) {
    const char* attrName = ippGetName(attr);
    if (ippGetGroupTag(attr) != IPP_TAG_PRINTER || attrName == nullptr) {
      endOfPrinter();
    } else if (std::string_view(attrName) == "printer-name" && ippGetValueTag(attr) == IPP_TAG_NAME) {
      name = ippGetString(attr, 0, nullptr);
    } else if (std::string_view(attrName) == "printer-type" && ippGetValueTag(attr) == IPP_TAG_ENUM) {
      type = ippGetInteger(attr, 0);
    }
  }
  endOfPrinter();
}

// Get-Printer-Attributes on the queue's URI: CUPS answers it for printers
// and classes, in any letter case, with the queue's own spelling.
Reply askOne(http_t* http, const std::string& name, std::vector<std::string>& found) {
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof(uri), "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                       name.c_str()) < HTTP_URI_STATUS_OK) {
    return Reply::NoSuchQueue;  // no queue has a name that makes no URI
  }
  ipp_t* request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  const Response response(cupsDoRequest(http, request, "/"));
  const Reply reply = replyOf(response);
  if (reply != Reply::Answered) return reply;
  std::vector<std::string> printers;
  addLocalQueues(response, printers);
  // Only the queue of that very name counts, whatever else the URI reached.
  if (printers.size() == 1 && sameQueueName(printers[0], name)) found.push_back(printers[0]);
  return Reply::Answered;
}

// The scheduler's own queues in one request, with the type filter
// cupsEnumDests uses for them; at most limit of them (0 for all).
SchedulerAnswer askList(http_t* http, int limit) {
  ipp_t* request = newRequest(IPP_OP_CUPS_GET_PRINTERS);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_ENUM, "printer-type", 0);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_ENUM, "printer-type-mask", CUPS_PRINTER_DISCOVERED);
  if (limit > 0) ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "limit", limit);
  const Response response(cupsDoRequest(http, request, "/"));
  SchedulerAnswer answer{AnswerPart::LocalAll, true, {}, {}};
  // A scheduler without queues answers "not found".
  const Reply reply = replyOf(response);
  if (reply == Reply::Failed || (reply == Reply::NoSuchQueue && cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND)) {
    return {AnswerPart::LocalAll, false, statusMessage(), {}};
  }
  addLocalQueues(response, answer.names);
  return answer;
}

// A small scheduler is known whole from one short list, cheaper than a
// request per name; on a large one the names are asked one by one.
SchedulerAnswer askEach(http_t* http, const std::vector<std::string>& names) {
  SchedulerAnswer first = askList(http, static_cast<int>(kNamesAskedOneByOne));
  if (!first.answered || first.names.size() < kNamesAskedOneByOne) return first;
  SchedulerAnswer answer{AnswerPart::Local, true, {}, {}};
  for (const std::string& name : names) {
    if (askOne(http, name, answer.names) != Reply::Failed) continue;
    return {AnswerPart::Local, false, statusMessage(), {}};
  }
  return answer;
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

// After a failed connect libcups reports whatever its own clean-up left in
// errno ("Bad file descriptor" for a refused connection, "Success" for a
// name that does not resolve); one plain connect of ours tells the cause.
std::string connectErrorOf(const sockaddr* address, socklen_t length, int family) {
  const FileDescriptor probe(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!probe.valid()) return fileErrorText(errno);
  if (::connect(probe.get(), address, length) == 0) return "the connection was closed";
  return fileErrorText(errno);
}

std::string localConnectFailure(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return fileErrorText(ENAMETOOLONG);
  path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  return connectErrorOf(reinterpret_cast<const sockaddr*>(&address), sizeof(address), AF_UNIX);
}

std::string hostConnectFailure(std::string host, int port) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); error != 0) {
    return error == EAI_SYSTEM ? fileErrorText(errno) : ::gai_strerror(error);
  }
  std::string failure = "no address";
  for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
    failure = connectErrorOf(at->ai_addr, at->ai_addrlen, at->ai_family);
  }
  ::freeaddrinfo(found);
  return failure;
}

std::string connectFailure() {
  const std::string server = cupsServer();
  if (!server.empty() && server[0] == '/') return localConnectFailure(server);
  return hostConnectFailure(server, ippPort());
}

void appendField(std::string& out, std::string_view field) {
  out.append(field);
  out.push_back('\0');
}

}  // namespace

std::string schedulerAddress() {
  const std::string server = cupsServer();
  if (!server.empty() && server[0] == '/') return server;
  const bool bare = server.find(':') != std::string::npos && server[0] != '[';  // an IPv6 address
  return (bare ? "[" + server + "]" : server) + ":" + std::to_string(ippPort());
}

void askScheduler(const SchedulerQuestion& question, int fd) {
  const Connection http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr));
  if (http == nullptr) {
    writeAllBytes(fd, encodeAnswer({AnswerPart::Local, false, connectFailure(), {}}));
    return;
  }
  const SchedulerAnswer local = question.everyQueue ? askList(http.get(), 0) : askEach(http.get(), question.names);
  writeAllBytes(fd, encodeAnswer(local));
  if (question.browse && local.answered && !allFound(question.names, local.names)) {
    writeAllBytes(fd, encodeAnswer(askWithBrowsing(http.get())));
  }
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
