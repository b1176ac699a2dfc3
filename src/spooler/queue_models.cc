#include "spooler/queue_models.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "io/file_descriptor.h"

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

bool readUntil(int fd, std::chrono::steady_clock::time_point deadline, std::string& out) {
  std::array<char, 4096> buffer{};
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd waiting{fd, POLLIN, 0};
    const int ready = left.count() > 0 ? ::poll(&waiting, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;
    out.append(buffer.data(), static_cast<std::size_t>(got));
  }
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

QueueModels askQueueModels(const std::vector<std::string>& queues, std::chrono::milliseconds budget) {
  if (queues.empty()) return {true, {}};
  const auto deadline = std::chrono::steady_clock::now() + budget;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  FileDescriptor readEnd(pipeFds[0]);
  FileDescriptor writeEnd(pipeFds[1]);
  std::fflush(nullptr);  // the child must not write out the parent's buffers again
  const pid_t child = ::fork();
  if (child < 0) return {};
  if (child == 0) {
    readEnd.close();
    writeAllBytes(writeEnd.get(), askScheduler(queues));
    ::_exit(0);
  }
  writeEnd.close();
  std::string answer;
  const bool complete = readUntil(readEnd.get(), deadline, answer);
  if (!complete) ::kill(child, SIGKILL);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  return complete ? parseAnswer(answer, queues.size()) : QueueModels{};
}

}  // namespace zorv
