#include "spooler/cups_queue_directory.h"

#include <cups/cups.h>

namespace zorv {

CupsQueueDirectory::~CupsQueueDirectory() {
  if (destinations_ != nullptr) cupsFreeDests(count_, destinations_);
}

const cups_dest_s* CupsQueueDirectory::find(std::string_view queue) {
  if (!fetched_) {
    count_ = cupsGetDests(&destinations_);
    fetched_ = true;
  }
  return cupsGetDest(std::string(queue).c_str(), nullptr, count_, destinations_);
}

bool CupsQueueDirectory::knows(std::string_view queue) { return find(queue) != nullptr; }

std::string CupsQueueDirectory::spelling(std::string_view queue) {
  const cups_dest_s* destination = find(queue);
  return destination != nullptr ? destination->name : std::string(queue);
}

}  // namespace zorv
