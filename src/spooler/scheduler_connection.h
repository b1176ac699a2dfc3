// The one connection a child process holds to the print scheduler (the
// server and encryption libcups is configured for), and the exchange of
// requests on it: every request is sent without waiting for the answers
// before it, and the answers are read in large blocks, so asking for many
// queues costs about one round trip.
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

// Sends every request and reads their answers. A scheduler that closes the
// connection after some answers is asked the rest on a new one.
Exchange exchangeRequests(SchedulerConnection& http, const std::vector<IppRequest>& requests);

// The printer-uri of the queue of this name on the scheduler; empty when
// the name makes no URI.
std::string queueUri(const std::string& name);

}  // namespace zorv
