#include "support/large_scheduler.h"

#include "support/ipp_bytes.h"

#include <cups/cups.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.h"

namespace zorv::test {
namespace {

void addPrinter(ipp_t* response, int number, bool first) {
  if (!first) ippAddSeparator(response);
  ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, ("Q" + std::to_string(number)).c_str());
  ippAddInteger(response, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-type", CUPS_PRINTER_LOCAL);
}

// The queue number a printer URI names ("/printers/q12" is 12), or -1.
int queueNumber(const char* uri) {
  const char* name = uri != nullptr ? std::strstr(uri, "/printers/") : nullptr;
  if (name == nullptr || (name[10] != 'Q' && name[10] != 'q')) return -1;
  int number = 0;
  int length = 0;
  if (std::sscanf(name + 11, "%d%n", &number, &length) != 1 || name[11 + length] != '\0') return -1;
  return number;
}

}  // namespace

LargeScheduler::LargeScheduler(std::string path, int queues, Mode mode)
    : path_(std::move(path)), queues_(queues), mode_(mode) {
  fd_ = boundUnixSocket(path_, SOCK_STREAM);
  if (fd_ < 0 || ::listen(fd_, 64) != 0) {
    ADD_FAILURE() << "cannot listen on " << path_ << ": " << std::strerror(errno);
  }
  ::chmod(path_.c_str(), 0777);
  thread_ = std::thread([this] { serve(); });
}

LargeScheduler::~LargeScheduler() {
  stop_ = true;
  thread_.join();
  ::close(fd_);
  ::unlink(path_.c_str());
}

std::map<std::string, int> LargeScheduler::requests() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LargeScheduler::resetCounts() {
  const std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
  connections_ = 0;
}

std::string LargeScheduler::answer(std::string& buffer) {
  const std::size_t headEnd = buffer.find("\r\n\r\n");
  const std::size_t lengthAt = buffer.find("Content-Length: ");
  if (headEnd == std::string::npos || lengthAt == std::string::npos) return {};
  const std::size_t length = std::stoul(buffer.substr(lengthAt + 16));
  if (buffer.size() < headEnd + 4 + length) return {};
  std::string_view body = std::string_view(buffer).substr(headEnd + 4, length);
  ipp_t* request = ippNew();
  ippReadIO(&body, readFrom, 1, nullptr, request);
  buffer.erase(0, headEnd + 4 + length);
  const ipp_op_t operation = ippGetOperation(request);
  ipp_t* response = ippNewResponse(request);
  if (operation == IPP_OP_CUPS_GET_PRINTERS) {
    ipp_attribute_t* limit = ippFindAttribute(request, "limit", IPP_TAG_INTEGER);
    const int count = limit != nullptr ? std::min(queues_, ippGetInteger(limit, 0)) : queues_;
    for (int i = 0; i < count; ++i) addPrinter(response, i, i == 0);
  } else {
    ipp_attribute_t* uri = ippFindAttribute(request, "printer-uri", IPP_TAG_URI);
    const int number = queueNumber(uri != nullptr ? ippGetString(uri, 0, nullptr) : nullptr);
    if (number >= 0 && number < queues_) {
      addPrinter(response, number, true);
    } else {
      ippSetStatusCode(response, IPP_STATUS_ERROR_NOT_FOUND);
    }
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++requests_[ippOpString(operation)];
  }
  ippDelete(request);
  std::string out;
  ippWriteIO(&out, writeTo, 1, nullptr, response);
  ippDelete(response);
  if (mode_ == Mode::NotHttp) return "SSH-2.0-OpenSSH\r\n\r\n";
  return "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: " + std::to_string(out.size()) +
         "\r\n\r\n" + out;
}

void LargeScheduler::serve() {
  struct Client {
    int fd;
    std::string buffer;
  };
  std::vector<Client> clients;
  while (!stop_) {
    std::vector<pollfd> ends{{fd_, POLLIN, 0}};
    for (const Client& client : clients) ends.push_back({client.fd, POLLIN, 0});
    if (::poll(ends.data(), ends.size(), 20) <= 0) continue;
    if ((ends[0].revents & POLLIN) != 0) {
      const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) {
        ++connections_;
        clients.push_back({client, {}});
      }
    }
    for (std::size_t i = ends.size() - 1; i > 0; --i) {
      if (ends[i].revents == 0) continue;
      Client& client = clients[i - 1];
      char block[65536];
      const ssize_t got = ::recv(client.fd, block, sizeof block, 0);
      if (got > 0) client.buffer.append(block, static_cast<std::size_t>(got));
      bool close = got <= 0;
      for (std::string out; !close && !(out = answer(client.buffer)).empty();) {
        close = ::send(client.fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()) ||
                mode_ == Mode::CloseAfterEachAnswer;
      }
      if (close) {
        ::close(client.fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i - 1));
      }
    }
  }
  for (const Client& client : clients) ::close(client.fd);
}

}  // namespace zorv::test
