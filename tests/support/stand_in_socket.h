// A unix socket that stands in for a scheduler: it counts the clients that
// reach it and either closes each at once (a client fails fast), keeps each
// open and never answers, keeps each open and answers a byte at a time
// every fifth of a second, forever (a client waits until it gives up), or
// answers each request with an IPP server error whose status message is
// the stand-in's to choose.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zorv::test {

class StandInSocket {
 public:
  enum class Mode { CloseAtOnce, NeverAnswer, Trickling, FailsWithStatusMessage };

  StandInSocket(std::string path, Mode mode, std::string statusMessage = "");
  ~StandInSocket();
  StandInSocket(const StandInSocket&) = delete;
  StandInSocket& operator=(const StandInSocket&) = delete;

  int connections() const { return connections_; }

 private:
  void acceptAll();
  void answerFailure(int client) const;

  std::string path_;
  Mode mode_;
  std::string statusMessage_;
  int fd_ = -1;
  std::vector<std::pair<int, std::size_t>> held_;  // clients kept open, and the bytes each was sent
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

}  // namespace zorv::test
