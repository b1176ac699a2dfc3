#include "spooler/cups_queue_directory.h"

#include <cstdio>

#include "io/run_budget.h"
#include "io/problem_report.h"
#include "io/text_field.h"
#include "spooler/bounded_child.h"
#include "spooler/scheduler_connection.h"

namespace zorv {
std::chrono::seconds schedulerBudget() { return std::chrono::seconds(timeoutSeconds("ZORV_SCHEDULER_TIMEOUT", 10)); }

void CupsQueueDirectory::lookUp(const std::vector<std::string>& names, const std::function<void()>& meanwhile) {
  SchedulerQuestion question;
  std::unordered_set<std::string> seen;
  for (const std::string& name : names) {
    const std::string folded = foldedQueueName(name);
    if (!stopped() && !answeredFor(folded) && seen.insert(folded).second) question.names.push_back(name);
  }
  if (question.names.empty()) {
    if (meanwhile) meanwhile();
    return;
  }
  question.everyQueue = question.names.size() > kNamesAskedOneByOne;
  ask(std::move(question), meanwhile);
}

bool CupsQueueDirectory::answeredFor(const std::string& folded) const {
  return everyQueue_ || asked_.count(folded) != 0;
}

bool CupsQueueDirectory::answers(std::string_view queue) const {
  return stopped() || answeredFor(foldedQueueName(queue));
}

void CupsQueueDirectory::ask(SchedulerQuestion question, const std::function<void()>& meanwhile) {
  if (!clockStarted_) {
    deadline_ = std::chrono::steady_clock::now() + budget_;
    clockStarted_ = true;
  }
  question.browse = !browsing_.fetched;
  ChildOutput output;
  if (std::chrono::steady_clock::now() < deadline_) {
    output = runBoundedChild(deadline_, [&question](int fd) { askWhichQueuesExist(question, fd); }, meanwhile);
  } else if (meanwhile) {
    meanwhile();
  }
  bool localCame = false;
  for (const SchedulerAnswer& answer : decodeAnswers(output.bytes)) localCame = take(answer) || localCame;
  // What did not come back is the deadline's doing, or the child's failure.
  const std::string failure = !output.failure.empty() ? output.failure
                              : output.complete       ? "the request ended without an answer"
                                                      : "no answer within " + std::to_string(budget_.count()) + " seconds";
  if (!localCame) {
    // Names answered before stay answered; the scheduler is not asked again.
    local_.fetched = true;
    local_.answered = false;
    local_.failure = failure;
    return;
  }
  for (const std::string& name : question.names) asked_.insert(foldedQueueName(name));
  if (!output.complete && !browsing_.fetched) browsing_ = {true, false, failure, {}};
}

bool CupsQueueDirectory::take(const SchedulerAnswer& answer) {
  const bool local = answer.part != AnswerPart::Browse;
  Part& part = local ? local_ : browsing_;
  part.fetched = true;
  part.answered = answer.answered;
  part.failure = answer.failure;
  if (answer.part == AnswerPart::LocalAll && answer.answered) everyQueue_ = true;
  // The first of a name wins, as cupsGetDest finds it.
  for (const std::string& name : answer.names) part.names.emplace(foldedQueueName(name), name);
  return local;
}

void CupsQueueDirectory::noteFailure(const Part& part) {
  if (part.answered || unreachableReported_) return;
  reportProblem("cannot reach the CUPS scheduler at %s: %s; queue names were not checked", schedulerAddress().c_str(),
                part.failure.c_str());
  unreachableReported_ = true;
}

const std::string* CupsQueueDirectory::find(std::string_view queue) {
  const std::string folded = foldedQueueName(queue);
  if (!stopped() && !answeredFor(folded)) {
    // A name nobody asked about before: one request for it, and for every
    // queue at once should another such name follow.
    ask({{std::string(queue)}, lateQuestions_++ > 0, false});
  }
  if (const auto found = local_.names.find(folded); found != local_.names.end()) return &found->second;
  if (!local_.answered) {
    noteFailure(local_);
    return nullptr;
  }
  if (!browsing_.fetched) ask({{std::string(queue)}, false, false});
  noteFailure(browsing_);
  const auto found = browsing_.names.find(folded);
  return found == browsing_.names.end() ? nullptr : &found->second;
}

bool CupsQueueDirectory::knows(std::string_view queue) { return find(queue) != nullptr; }

std::string CupsQueueDirectory::spelling(std::string_view queue) {
  const std::string* spelled = find(queue);
  return spelled != nullptr ? *spelled : std::string(queue);
}

}  // namespace zorv
