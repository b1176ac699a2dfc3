#include "spooler/queue_lookup.h"

#include <cups/cups.h>

namespace zorv {

SpoolerQueues::~SpoolerQueues() {
  if (destinations_ != nullptr) cupsFreeDests(count_, destinations_);
}

bool SpoolerQueues::contains(const char* name) {
  if (!fetched_) {
    count_ = cupsGetDests(&destinations_);
    fetched_ = true;
  }
  return cupsGetDest(name, nullptr, count_, destinations_) != nullptr;
}

int spoolerExists(SpoolerQueues& queues, const char* name) { return queues.contains(name) ? 0 : -1; }

}  // namespace zorv
