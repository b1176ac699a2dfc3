#include "support/stand_in_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/process.h"

namespace zorv::test {

StandInSocket::StandInSocket(std::string path, Mode mode, std::string statusMessage)
    : path_(std::move(path)), mode_(mode), statusMessage_(std::move(statusMessage)) {
  fd_ = boundUnixSocket(path_, SOCK_STREAM);
  if (fd_ < 0 || ::listen(fd_, 16) != 0) {
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

namespace {

void addAttribute(std::string& ipp, char tag, const std::string& name, const std::string& value) {
  const auto addLength = [&ipp](std::size_t length) {
    ipp += static_cast<char>(length >> 8);
    ipp += static_cast<char>(length & 0xff);
  };
  ipp += tag;
  addLength(name.size());
  ipp += name;
  addLength(value.size());
  ipp += value;
}

// The request's headers and its Content-Length bytes of body; what came
// so far when the client stops sending.
std::string readRequest(int client) {
  std::string request;
  char buffer[4096];
  for (;;) {
    const std::size_t body = request.find("\r\n\r\n");
    const std::size_t length = request.find("Content-Length: ");
    if (body != std::string::npos &&
        (length > body || request.size() - body - 4 >= std::stoul(request.substr(length + 16)))) {
      return request;
    }
    pollfd waiting{client, POLLIN, 0};
    const ssize_t got = ::poll(&waiting, 1, 5000) > 0 ? ::recv(client, buffer, sizeof buffer, 0) : 0;
    if (got <= 0) return request;
    request.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

// server-error-internal-error with the request's id, in IPP 2.0.
void StandInSocket::answerFailure(int client) const {
  const std::string request = readRequest(client);
  const std::size_t body = request.find("\r\n\r\n") + 4;
  std::string ipp = {'\x02', '\x00', '\x05', '\x00'};
  ipp += request.size() >= body + 8 ? request.substr(body + 4, 4) : std::string(4, '\0');
  ipp += '\x01';  // operation attributes
  addAttribute(ipp, '\x47', "attributes-charset", "utf-8");
  addAttribute(ipp, '\x48', "attributes-natural-language", "en");
  addAttribute(ipp, '\x41', "status-message", statusMessage_);
  ipp += '\x03';
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: " +
                             std::to_string(ipp.size()) + "\r\n\r\n" + ipp;
  ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
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
    if (mode_ == Mode::FailsWithStatusMessage) answerFailure(client);
    if (mode_ == Mode::CloseAtOnce || mode_ == Mode::FailsWithStatusMessage) {
      ::close(client);
    } else {
      held_.emplace_back(client, 0);
    }
  }
}

}  // namespace zorv::test
