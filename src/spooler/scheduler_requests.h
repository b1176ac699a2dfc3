// The requests a run makes to the print scheduler, made in the bounded
// child, and the answers they give back to the run through the pipe (one
// format for every kind of answer). Only the named queues are asked for
// (printer-name and printer-type), all at once on one connection, so a run
// costs the same on a scheduler of ten queues and of thousands; the full
// destination list, which also browses DNS-SD, is fetched only when a name
// is not one of the scheduler's own queues.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zorv {

// Past this many names, one CUPS-Get-Printers for every queue is cheaper
// than a Get-Printer-Attributes for each name; below it, a scheduler with
// fewer queues is answered by one CUPS-Get-Printers of at most this many.
constexpr std::size_t kNamesAskedOneByOne = 64;

enum class AnswerPart : char {
  Local = 'L',   // the scheduler's own queues (not discovered ones) of the names
  LocalAll = 'A',  // the same, for every queue of the scheduler
  Browse = 'B',  // names of the full destination list, as cupsGetDests gives it
  Models = 'M',  // printer-make-and-model of each queue asked, in order; empty when none
};

struct SchedulerAnswer {
  AnswerPart part = AnswerPart::Local;
  bool answered = false;  // the scheduler was reached and answered
  std::string failure;    // why not, in libcups's words
  std::vector<std::string> names;  // as the scheduler spells them, in its order (Models: the models)
};

struct SchedulerQuestion {
  std::vector<std::string> names;
  bool everyQueue = false;  // one request for every queue instead of one per name
  bool browse = false;      // the full list too, when a name is not one of the scheduler's own queues
};

// In the child: asks on one connection whether the names are queues and
// writes a Local or LocalAll answer to fd, then maybe a Browse answer.
void askWhichQueuesExist(const SchedulerQuestion& question, int fd);

// In the child: asks on one connection for the make and model of each
// queue and writes a Models answer to fd; answered when the scheduler
// answered any of them.
void askQueueModelsOf(const std::vector<std::string>& queues, int fd);

std::string encodeAnswer(const SchedulerAnswer& answer);
// The complete answers in bytes; a part cut off by the deadline is left out.
std::vector<SchedulerAnswer> decodeAnswers(std::string_view bytes);

}  // namespace zorv
