// The print scheduler's answer to "is there a queue of this name", through
// libcups. A run asks for the destination list once, at its first lookup,
// and answers every later lookup of the run from it.
#pragma once

#include <string>
#include <string_view>

#include "config/queue_directory.h"

struct cups_dest_s;

namespace zorv {

class CupsQueueDirectory final : public QueueDirectory {
 public:
  CupsQueueDirectory() = default;
  CupsQueueDirectory(const CupsQueueDirectory&) = delete;
  CupsQueueDirectory& operator=(const CupsQueueDirectory&) = delete;
  ~CupsQueueDirectory();

  // The name comparison is libcups's own (letters without regard to case);
  // instances are never matched.
  bool knows(std::string_view queue) override;

  // The queue's name as the scheduler spells it; queue itself when the
  // scheduler does not know it.
  std::string spelling(std::string_view queue);

 private:
  const cups_dest_s* find(std::string_view queue);

  bool fetched_ = false;
  int count_ = 0;
  cups_dest_s* destinations_ = nullptr;
};

}  // namespace zorv
