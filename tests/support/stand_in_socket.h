// A unix socket that stands in for a scheduler: it counts the clients that
// reach it and either closes each at once (a client fails fast) or keeps
// each open and never answers (a client waits until it gives up).
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace zorv::test {

class StandInSocket {
 public:
  enum class Mode { CloseAtOnce, NeverAnswer };

  StandInSocket(std::string path, Mode mode);
  ~StandInSocket();
  StandInSocket(const StandInSocket&) = delete;
  StandInSocket& operator=(const StandInSocket&) = delete;

  int connections() const { return connections_; }

 private:
  void acceptAll();

  std::string path_;
  Mode mode_;
  int fd_ = -1;
  std::vector<int> held_;  // clients kept open in NeverAnswer mode
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

}  // namespace zorv::test
