// The one question the configuration pass asks the print scheduler. The
// scheduler's own implementation lives with the other CUPS code; tests
// answer it from a fixed list, so the rewrite rules run without a scheduler.
#pragma once

#include <string_view>

namespace zorv {

class QueueDirectory {
 public:
  // Whether the scheduler knows a queue of this name.
  virtual bool knows(std::string_view queue) = 0;

 protected:
  ~QueueDirectory() = default;
};

// The stand-in for a read that needs no scheduler (a lookup in the file
// itself, the entries of a backup, a make and model asked elsewhere):
// every queue name is taken as known.
class EveryQueueKnown final : public QueueDirectory {
 public:
  bool knows(std::string_view) override { return true; }
};

}  // namespace zorv
