// The print scheduler's answer to "is there a queue of this name", with
// the answers of libcups's cupsGetDests and cupsGetDest: a run asks the
// scheduler about the names it needs (printer-name and printer-type only,
// all at once) and, only for a name that is not one of the scheduler's own
// queues, fetches the full list that also browses DNS-SD through libcups,
// at most once per run. Every request runs in a child process that is ended when the run's
// scheduler budget is spent, so no scheduler can hold a run however it
// behaves.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "config/queue_directory.h"
#include "spooler/scheduler_requests.h"

namespace zorv {

// The whole conversation with the scheduler in one run: 10 seconds, or
// ZORV_SCHEDULER_TIMEOUT's.
std::chrono::seconds schedulerBudget();

class CupsQueueDirectory final : public QueueDirectory {
 public:
  explicit CupsQueueDirectory(std::chrono::seconds budget = schedulerBudget()) : budget_(budget) {}

  // Asks about exactly these names now, in one child on one connection, so
  // that a run can do it before it takes the lock. Names asked later are
  // still answered, at the cost of more requests. Failures are reported
  // only once a name is looked up. meanwhile, when given, is done at most
  // once, while the scheduler is asked (at once when nothing is asked).
  void lookUp(const std::vector<std::string>& names, const std::function<void()>& meanwhile = {});

  // libcups's comparison (letters without regard to case); instances are
  // never matched.
  bool knows(std::string_view queue) override;

  // The queue's name as the scheduler spells it; queue itself when the
  // scheduler does not know it.
  std::string spelling(std::string_view queue);

  // False once a lookup could not be answered by the scheduler.
  bool reachable() const { return !unreachableReported_; }

  // Whether knows(queue) answers without a new request: the name was asked
  // about, every queue was fetched, or the scheduler is not asked again.
  bool answers(std::string_view queue) const;

 private:
  // Destinations by folded name, each built once per answer.
  using Spellings = std::unordered_map<std::string, std::string>;

  struct Part {
    bool fetched = false;
    bool answered = false;
    std::string failure;
    Spellings names;
  };

  const std::string* find(std::string_view queue);
  bool answeredFor(const std::string& folded) const;
  void ask(SchedulerQuestion question, const std::function<void()>& meanwhile = {});
  // True for an answer about the scheduler's own queues.
  bool take(const SchedulerAnswer& answer);
  // Once the scheduler failed to answer, it is not asked again.
  bool stopped() const { return local_.fetched && !local_.answered; }
  void noteFailure(const Part& part);

  std::chrono::seconds budget_;
  bool clockStarted_ = false;
  std::chrono::steady_clock::time_point deadline_;
  Part local_;   // the scheduler's own queues among those asked
  Part browsing_;  // the full list, as cupsGetDests gives it
  std::unordered_set<std::string> asked_;  // folded names local_ answers for
  bool everyQueue_ = false;  // local_ holds every queue of the scheduler
  int lateQuestions_ = 0;
  bool unreachableReported_ = false;
};

}  // namespace zorv
