// The one connection a child process holds to the print scheduler (the
// server and encryption libcups is configured for), and the exchange of
// requests on it. CUPS answers one request at a time per connection, so
// many requests go out side by side on a few connections of the same
// address and are waited for at once; answers are read in 64 KiB blocks.
#pragma once

#include <cups/cups.h>

#include <memory>
#include <string>
#include <vector>

#include "spooler/ipp_codec.h"

namespace zorv {

struct HttpClose {
  void operator()(http_t* http) const { httpClose(http); }
};
using SchedulerConnection = std::unique_ptr<http_t, HttpClose>;

// The scheduler libcups asks, for messages: the socket's path, or
// "host:port".
std::string schedulerAddress();

// A connection, or null with why in failure (in the system's words).
SchedulerConnection connectScheduler(std::string& failure);

struct Exchange {
  std::vector<IppAnswer> answers;  // in the order of the requests; fewer when failed
  std::string failure;             // why the others did not come
};

// Sends every request and reads their answers. A connection the scheduler
// closes after answering is opened again for the rest. Over an encrypted
// connection libcups carries the same requests one at a time.
Exchange exchangeRequests(SchedulerConnection& http, const std::vector<IppRequest>& requests);

// The printer-uri of the queue of this name on the scheduler; empty when
// the name makes no URI.
std::string queueUri(const std::string& name);

}  // namespace zorv
