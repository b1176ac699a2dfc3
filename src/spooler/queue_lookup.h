// Asks the local CUPS scheduler, through libcups, whether a queue exists.
// A run asks for the destination list once, at its first lookup, and
// answers every later lookup of the run from it.
#pragma once

struct cups_dest_s;

namespace zorv {

class SpoolerQueues {
 public:
  SpoolerQueues() = default;
  SpoolerQueues(const SpoolerQueues&) = delete;
  SpoolerQueues& operator=(const SpoolerQueues&) = delete;
  ~SpoolerQueues();

  bool contains(const char* name);

 private:
  bool fetched_ = false;
  int count_ = 0;
  cups_dest_s* destinations_ = nullptr;
};

// 0 when CUPS knows a destination of that name, -1 otherwise (also when the
// scheduler cannot be reached).
int spoolerExists(SpoolerQueues& queues, const char* name);

}  // namespace zorv
