#include "spooler/scheduler_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "io/file_descriptor.h"
#include "io/text_field.h"

namespace zorv {
namespace {

constexpr std::size_t kAnswerBlock = 65536;
constexpr int kConnectMilliseconds = 30000;

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

// The Host field libcups would send: "localhost" for a local socket.
std::string hostField(http_t* http) {
  char host[256] = "localhost";
  httpGetHostname(http, host, sizeof(host));
  const std::string name = host;
  return name.find(':') != std::string::npos ? "[" + name + "]" : name;
}

enum class Round { Done, Closed, Failed };

// Writes out while reading answers, so neither side waits on a full buffer.
Round pipeline(int fd, std::string_view out, std::size_t wanted, Exchange& exchange) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  HttpAnswerReader reader;
  std::string block(kAnswerBlock, '\0');
  const std::size_t goal = exchange.answers.size() + wanted;
  while (exchange.answers.size() < goal) {
    pollfd ends{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
    if (::poll(&ends, 1, -1) < 0) {
      if (errno == EINTR) continue;
      exchange.failure = fileErrorText(errno);
      return Round::Failed;
    }
    if (!out.empty() && (ends.revents & POLLOUT) != 0) {
      const ssize_t sent = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
      if (sent < 0 && errno != EINTR && errno != EAGAIN) {
        exchange.failure = fileErrorText(errno);
        return errno == EPIPE || errno == ECONNRESET ? Round::Closed : Round::Failed;
      }
      if (sent > 0) out.remove_prefix(static_cast<std::size_t>(sent));
    }
    if ((ends.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t got = ::recv(fd, block.data(), block.size(), 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) {
      exchange.failure = fileErrorText(errno);
      return errno == ECONNRESET ? Round::Closed : Round::Failed;
    }
    reader.feed(std::string_view(block.data(), static_cast<std::size_t>(got)));
    for (IppAnswer answer; exchange.answers.size() < goal && reader.next(answer, got == 0);) {
      exchange.answers.push_back(std::move(answer));
    }
    if (reader.malformed()) {
      exchange.failure = "the scheduler's answer is not HTTP";
      return Round::Failed;
    }
    if (got == 0 && exchange.answers.size() < goal) {
      exchange.failure = "the connection was closed";
      return Round::Closed;
    }
  }
  return Round::Done;
}

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
      exchange.failure = cupsLastErrorString();
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
  const std::string host = hostField(http.get());
  while (exchange.answers.size() < requests.size()) {
    const std::size_t first = exchange.answers.size();
    std::string out;
    for (std::size_t i = first; i < requests.size(); ++i) {
      out += httpPost(host, encodeIppRequest(requests[i], static_cast<std::int32_t>(i + 1)));
    }
    const Round round = pipeline(httpGetFd(http.get()), out, requests.size() - first, exchange);
    // Asked again only when the closed connection answered some first.
    if (round == Round::Done || round == Round::Failed || exchange.answers.size() == first) break;
    if (httpReconnect2(http.get(), kConnectMilliseconds, nullptr) != 0) break;
    exchange.failure.clear();
  }
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
