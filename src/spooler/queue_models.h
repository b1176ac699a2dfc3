// The make and model the CUPS scheduler has for named queues (the IPP
// attribute printer-make-and-model), asked all at once in one child process
// that is ended when the scheduler budget is spent, as every scheduler
// request is.
#pragma once

#include <string>
#include <vector>

#include "spooler/cups_queue_directory.h"

namespace zorv {

struct QueueModels {
  bool answered = false;            // false: the scheduler could not be asked
  std::vector<std::string> models;  // one per queue asked; empty when it has none
};

QueueModels askQueueModels(const std::vector<std::string>& queues,
                           std::chrono::seconds budget = schedulerBudget());

}  // namespace zorv
