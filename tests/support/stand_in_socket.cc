#include "support/stand_in_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
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
  for (const int client : held_) ::close(client);
  ::close(fd_);
  ::unlink(path_.c_str());
}

void StandInSocket::acceptAll() {
  while (!stop_) {
    pollfd waiting{fd_, POLLIN, 0};
    if (::poll(&waiting, 1, 20) <= 0) continue;
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++connections_;
    if (mode_ == Mode::NeverAnswer) {
      held_.push_back(client);
    } else {
      ::close(client);
    }
  }
}

}  // namespace zorv::test
