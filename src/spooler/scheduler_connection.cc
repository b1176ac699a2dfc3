#include "spooler/scheduler_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "io/escaping.h"
#include "io/file_descriptor.h"
#include "io/text_field.h"
#include "spooler/connect_failure.h"

namespace zorv {
namespace {

constexpr std::size_t kAnswerBlock = 65536;
constexpr int kConnectMilliseconds = 30000;

// The Host field libcups would send: "localhost" for a local socket.
std::string hostField(http_t* http) {
  char host[256] = "localhost";
  httpGetHostname(http, host, sizeof(host));
  const std::string name = host;
  return name.find(':') != std::string::npos ? "[" + name + "]" : name;
}

// CUPS closes a connection that sends a request before the answer to the
// one before has gone out, so one connection carries one request at a time;
// up to this many connections carry them side by side, waited for at once.
constexpr std::size_t kLanes = 8;

// A connection the other end closed says so, however the write or read
// that found it out failed.
std::string failureOf(int error) {
  return error == EPIPE || error == ECONNRESET ? "the connection was closed" : fileErrorText(error);
}

struct Lane {
  FileDescriptor own;  // not valid for the run's own connection
  int fd = -1;
  std::vector<std::size_t> queue;  // the requests it carries, in order
  std::size_t next = 0;            // of queue: the one out now
  std::string out;                 // what of it is not sent yet
  HttpAnswerReader reader;
  bool answered = false;  // the connection answered before: one closed since is opened again

  bool done() const { return next == queue.size(); }
};

class LaneExchange {
 public:
  LaneExchange(const std::vector<IppRequest>& requests, http_t* http)
      : requests_(requests), host_(hostField(http)), address_(httpGetAddress(http)), answers_(requests.size()) {}

  // Another connection to the address of the first; false when none is made.
  bool connect(Lane& lane) const {
    lane.own = FileDescriptor(::socket(httpAddrFamily(address_), SOCK_STREAM | SOCK_CLOEXEC, 0));
    lane.fd = lane.own.get();
    return lane.own.valid() && ::connect(lane.fd, &address_->addr, static_cast<socklen_t>(httpAddrLength(address_))) == 0;
  }

  // Every lane sends its first request; then answers are read as they come.
  std::string run(std::vector<Lane>& lanes) {
    for (Lane& lane : lanes) start(lane);
    std::vector<pollfd> ends;
    std::vector<Lane*> polled;
    while (true) {
      ends.clear();
      polled.clear();
      for (Lane& lane : lanes) {
        if (lane.done()) continue;
        ends.push_back({lane.fd, static_cast<short>(POLLIN | (lane.out.empty() ? 0 : POLLOUT)), 0});
        polled.push_back(&lane);
      }
      if (ends.empty()) return {};
      if (::poll(ends.data(), ends.size(), -1) < 0) {
        if (errno == EINTR) continue;
        return fileErrorText(errno);
      }
      for (std::size_t i = 0; i < ends.size(); ++i) {
        if (ends[i].revents == 0) continue;
        if (std::string failure = step(*polled[i], ends[i].revents); !failure.empty()) return failure;
      }
    }
  }

  // The answers in the order of the requests, up to the first missing one.
  std::vector<IppAnswer> answers() {
    std::vector<IppAnswer> out;
    for (std::optional<IppAnswer>& answer : answers_) {
      if (!answer) break;
      out.push_back(std::move(*answer));
    }
    return out;
  }

 private:
  void start(Lane& lane) {
    if (lane.done()) return;
    const std::size_t index = lane.queue[lane.next];
    lane.out = httpPost(host_, encodeIppRequest(requests_[index], static_cast<std::int32_t>(index + 1)));
    lane.reader = HttpAnswerReader{};
    ::fcntl(lane.fd, F_SETFL, ::fcntl(lane.fd, F_GETFL) | O_NONBLOCK);
  }

  std::string step(Lane& lane, short events) {
    const int fd = lane.fd;
    if (!lane.out.empty() && (events & POLLOUT) != 0) {
      const ssize_t sent = ::send(fd, lane.out.data(), lane.out.size(), MSG_NOSIGNAL);
      if (sent < 0 && errno != EINTR && errno != EAGAIN) return closedOrFailed(lane, failureOf(errno));
      if (sent > 0) lane.out.erase(0, static_cast<std::size_t>(sent));
    }
    if ((events & (POLLIN | POLLHUP | POLLERR)) == 0) return {};
    const ssize_t got = ::recv(fd, block_.data(), block_.size(), 0);
    if (got < 0) return errno == EINTR || errno == EAGAIN ? std::string() : closedOrFailed(lane, failureOf(errno));
    lane.reader.feed(std::string_view(block_.data(), static_cast<std::size_t>(got)));
    IppAnswer answer;
    if (lane.reader.next(answer, got == 0)) {
      answers_[lane.queue[lane.next++]] = std::move(answer);
      lane.answered = true;
      start(lane);
      return {};
    }
    if (lane.reader.malformed()) return "the scheduler's answer is not HTTP";
    return got == 0 ? closedOrFailed(lane, "the connection was closed") : std::string();
  }

  // A connection the scheduler closed after answering (its keep-alive
  // ended) is opened again for the request that was out.
  std::string closedOrFailed(Lane& lane, std::string failure) {
    if (!lane.answered || !connect(lane)) return failure;
    lane.answered = false;
    start(lane);
    return {};
  }

  const std::vector<IppRequest>& requests_;
  std::string host_;
  http_addr_t* address_;
  std::vector<std::optional<IppAnswer>> answers_;
  std::string block_ = std::string(kAnswerBlock, '\0');
};

// Over an encrypted connection libcups carries the same bytes, one request
// at a time.
ssize_t readBytes(void* context, ipp_uchar_t* buffer, size_t bytes) {
  auto* source = static_cast<std::string_view*>(context);
  const std::size_t count = std::min(bytes, source->size());
  std::memcpy(buffer, source->data(), count);
  source->remove_prefix(count);
  return static_cast<ssize_t>(count);
}

ssize_t writeBytes(void* context, ipp_uchar_t* buffer, size_t bytes) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(buffer), bytes);
  return static_cast<ssize_t>(bytes);
}

void exchangeThroughLibcups(http_t* http, const std::vector<IppRequest>& requests, Exchange& exchange) {
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const std::string bytes = encodeIppRequest(requests[i], static_cast<std::int32_t>(i + 1));
    std::string_view source = bytes;
    ipp_t* request = ippNew();
    ippReadIO(&source, readBytes, 1, nullptr, request);
    ipp_t* response = cupsDoRequest(http, request, "/");
    if (response == nullptr) {
      exchange.failure = escaped(cupsLastErrorString(), Escaping::TerminalText);
      return;
    }
    std::string body;
    ippWriteIO(&body, writeBytes, 1, nullptr, response);
    ippDelete(response);
    IppAnswer answer;
    answer.httpStatus = 200;
    decodeIppMessage(body, answer);
    exchange.answers.push_back(std::move(answer));
  }
}

}  // namespace

std::string schedulerAddress() {
  const std::string server = cupsServer();
  if (!server.empty() && server[0] == '/') return server;
  const bool bare = server.find(':') != std::string::npos && server[0] != '[';  // an IPv6 address
  return (bare ? "[" + server + "]" : server) + ":" + std::to_string(ippPort());
}

SchedulerConnection connectScheduler(std::string& failure) {
  SchedulerConnection http(
      httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMilliseconds, nullptr));
  if (http == nullptr) failure = connectFailure();
  return http;
}

Exchange exchangeRequests(SchedulerConnection& http, const std::vector<IppRequest>& requests) {
  Exchange exchange;
  const http_encryption_t encryption = cupsEncryption();
  if (httpIsEncrypted(http.get()) || encryption == HTTP_ENCRYPTION_ALWAYS || encryption == HTTP_ENCRYPTION_REQUIRED) {
    exchangeThroughLibcups(http.get(), requests, exchange);
    return exchange;
  }
  if (requests.empty()) return exchange;
  LaneExchange lanesExchange(requests, http.get());
  std::vector<Lane> lanes(std::min(kLanes, requests.size()));
  lanes[0].fd = httpGetFd(http.get());
  lanes[0].answered = true;  // the run's connection may have answered before, and timed out since
  // A lane that cannot connect leaves its requests to the first.
  std::vector<bool> connected(lanes.size(), true);
  for (std::size_t i = 1; i < lanes.size(); ++i) connected[i] = lanesExchange.connect(lanes[i]);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const std::size_t lane = i % lanes.size();
    lanes[connected[lane] ? lane : 0].queue.push_back(i);
  }
  const int flags = ::fcntl(lanes[0].fd, F_GETFL);  // libcups asks on it later, blocking
  exchange.failure = lanesExchange.run(lanes);
  ::fcntl(httpGetFd(http.get()), F_SETFL, flags);
  exchange.answers = lanesExchange.answers();
  return exchange;
}

std::string queueUri(const std::string& name) {
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof(uri), "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                       name.c_str()) < HTTP_URI_STATUS_OK) {
    return {};
  }
  return uri;
}

}  // namespace zorv
