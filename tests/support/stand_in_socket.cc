#include "support/stand_in_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

namespace zorv::test {

StandInSocket::StandInSocket(std::string path, Mode mode) : path_(std::move(path)), mode_(mode) {
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 16) != 0) {
    ADD_FAILURE() << "cannot listen on " << path_ << ": " << std::strerror(errno);
  }
  ::chmod(path_.c_str(), 0777);
  thread_ = std::thread([this] { acceptAll(); });
}

StandInSocket::~StandInSocket() {
  stop_ = true;
  thread_.join();
  for (const auto& client : held_) ::close(client.first);
  ::close(fd_);
  ::unlink(path_.c_str());
}

void StandInSocket::acceptAll() {
  // The start of an answer that never ends: a client reads on and on.
  static const std::string kAnswer =
      "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: 100000\r\n\r\n";
  auto nextByte = std::chrono::steady_clock::now();
  while (!stop_) {
    if (mode_ == Mode::Trickling && std::chrono::steady_clock::now() >= nextByte) {
      nextByte += std::chrono::milliseconds(200);
      for (auto& [client, sent] : held_) {
        if (::send(client, &kAnswer[sent % kAnswer.size()], 1, MSG_NOSIGNAL) == 1) ++sent;
      }
    }
    pollfd waiting{fd_, POLLIN, 0};
    if (::poll(&waiting, 1, 20) <= 0) continue;
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++connections_;
    if (mode_ == Mode::CloseAtOnce) {
      ::close(client);
    } else {
      held_.emplace_back(client, 0);
    }
  }
}

}  // namespace zorv::test
