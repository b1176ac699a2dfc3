#include "spooler/queue_models.h"

#include "spooler/bounded_child.h"
#include "spooler/scheduler_requests.h"

namespace zorv {

QueueModels askQueueModels(const std::vector<std::string>& queues, std::chrono::seconds budget) {
  if (queues.empty()) return {true, {}};
  const ChildOutput output = runBoundedChild(std::chrono::steady_clock::now() + budget,
                                             [&queues](int fd) { askQueueModelsOf(queues, fd); });
  const std::vector<SchedulerAnswer> answers = decodeAnswers(output.bytes);
  if (!output.complete || answers.size() != 1 || answers[0].part != AnswerPart::Models || !answers[0].answered ||
      answers[0].names.size() != queues.size()) {
    return {};
  }
  return {true, answers[0].names};
}

}  // namespace zorv
