#include "spooler/connect_failure.h"

#include <cups/cups.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>

#include "io/file_descriptor.h"
#include "io/text_field.h"

namespace zorv {
namespace {

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

}  // namespace

std::string connectFailure() {
  const std::string server = cupsServer();
  if (!server.empty() && server[0] == '/') return localConnectFailure(server);
  return hostConnectFailure(server, ippPort());
}

}  // namespace zorv
