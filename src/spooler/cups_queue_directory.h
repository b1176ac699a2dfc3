// The print scheduler's answer to "is there a queue of this name", through
// libcups: first from the scheduler's own destinations (one request, no
// network browsing), and only for a name missing there from the full list
// that also browses DNS-SD, at most once per run. The answers are those of
// cupsGetDests and cupsGetDest. Every request runs in a child process that
// is ended when the run's scheduler budget is spent, so no scheduler can
// hold a run however it behaves.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "config/queue_directory.h"

namespace zorv {

// The whole conversation with the scheduler in one run.
constexpr std::chrono::seconds kSchedulerBudget{10};

struct Destination {
  std::string name;
  std::string instance;  // empty for the queue itself
};

struct DestinationList {
  bool fetched = false;
  bool answered = false;  // the scheduler was reached and answered
  std::string failure;    // why not, in libcups's words
  std::vector<Destination> destinations;
};

class CupsQueueDirectory final : public QueueDirectory {
 public:
  explicit CupsQueueDirectory(std::chrono::milliseconds budget = kSchedulerBudget) : budget_(budget) {}

  // Asks for the scheduler's own destinations now, so that a run can do it
  // before it takes the lock; failures are reported only once a name is
  // looked up.
  void fetchLocalDestinations();

  // Asks the scheduler everything needed to answer knows() and spelling()
  // for these names without another request; a run does it before it takes
  // its lock.
  void lookUp(const std::vector<std::string>& names);

  // libcups's comparison (letters without regard to case); instances are
  // never matched.
  bool knows(std::string_view queue) override;

  // The queue's name as the scheduler spells it; queue itself when the
  // scheduler does not know it.
  std::string spelling(std::string_view queue);

  // False once a lookup could not be answered by the scheduler.
  bool reachable() const { return !unreachableReported_; }

 private:
  const Destination* find(std::string_view queue);
  void noteFailure(const DestinationList& list);

  std::chrono::milliseconds budget_;
  bool clockStarted_ = false;
  std::chrono::steady_clock::time_point deadline_;
  DestinationList local_;
  DestinationList all_;
  bool unreachableReported_ = false;
};

// The destination of that name and no instance, compared as cupsGetDest
// compares; null when there is none.
const Destination* findDestination(const std::vector<Destination>& destinations, std::string_view queue);

}  // namespace zorv
