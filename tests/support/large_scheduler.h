// A unix socket that answers as a CUPS scheduler of many queues would,
// without making them: queues Q0 .. Q(n-1), printers of type 4, for
// CUPS-Get-Printers (with its limit) and Get-Printer-Attributes by URI.
// It counts the connections and requests of each kind exactly, and can
// close a connection after each answer (as CUPS does when a keep-alive
// ends) or answer with something that is not HTTP.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace zorv::test {

class LargeScheduler {
 public:
  enum class Mode { KeepAlive, CloseAfterEachAnswer, NotHttp };

  LargeScheduler(std::string path, int queues, Mode mode = Mode::KeepAlive);
  ~LargeScheduler();
  LargeScheduler(const LargeScheduler&) = delete;
  LargeScheduler& operator=(const LargeScheduler&) = delete;

  int connections() const { return connections_; }
  // Requests by operation name ("Get-Printer-Attributes", "CUPS-Get-Printers", others by number).
  std::map<std::string, int> requests() const;
  void resetCounts();

 private:
  void serve();
  // The answer to one whole request; empty when buffer holds none yet.
  std::string answer(std::string& buffer);

  std::string path_;
  int queues_;
  Mode mode_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::map<std::string, int> requests_;
  std::thread thread_;
};

}  // namespace zorv::test
