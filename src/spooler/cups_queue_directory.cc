#include "spooler/cups_queue_directory.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>

#include "io/file_descriptor.h"

namespace zorv {
namespace {

enum class Scope { SchedulerOnly, WithBrowsing };

constexpr int kAnswerFd = 3;  // the child's answer pipe, after the standard three

// The child's answer on the pipe: NUL-separated fields, "ok" or "failed",
// the failure text, then name and instance of each destination.
void appendField(std::string& out, std::string_view field) {
  out.append(field);
  out.push_back('\0');
}

int collectDestination(void* data, unsigned /*flags*/, cups_dest_t* dest) {
  auto* out = static_cast<std::string*>(data);
  appendField(*out, dest->name);
  appendField(*out, dest->instance != nullptr ? dest->instance : "");
  return 1;
}

// libcups's words for the failure; for a local socket that is not there,
// the system's, which say more than libcups's errno of the connect.
std::string failureReason() {
  const std::string server = cupsServer();
  if (!server.empty() && server[0] == '/' && ::access(server.c_str(), F_OK) != 0) {
    return server + ": " + fileErrorText(errno);
  }
  return cupsLastErrorString();
}

std::string askScheduler(Scope scope) {
  std::string destinations;
  bool answered = false;
  if (scope == Scope::SchedulerOnly) {
    answered = cupsEnumDests(CUPS_DEST_FLAGS_NONE, 0, nullptr, 0, CUPS_PRINTER_DISCOVERED, collectDestination,
                             &destinations) != 0 &&
               cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
  } else {
    cups_dest_t* list = nullptr;
    const int count = cupsGetDests(&list);
    for (int i = 0; i < count; ++i) collectDestination(&destinations, 0, &list[i]);
    cupsFreeDests(count, list);
    answered = count > 0 || cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
  }
  std::string answer;
  appendField(answer, answered ? "ok" : "failed");
  appendField(answer, answered ? "" : failureReason());
  return answer + destinations;
}

// Everything the child writes, or false when the deadline came first.
bool readUntil(int fd, std::chrono::steady_clock::time_point deadline, std::string& out) {
  std::array<char, 4096> buffer{};
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;
    out.append(buffer.data(), static_cast<std::size_t>(got));
  }
}

DestinationList parseAnswer(const std::string& answer) {
  std::vector<std::string> fields;
  for (std::size_t at = 0; at < answer.size();) {
    const std::size_t end = answer.find('\0', at);
    if (end == std::string::npos) break;
    fields.push_back(answer.substr(at, end - at));
    at = end + 1;
  }
  DestinationList list;
  list.fetched = true;
  if (fields.size() < 2) {
    list.failure = "the request ended without an answer";
    return list;
  }
  list.answered = fields[0] == "ok";
  list.failure = fields[1];
  for (std::size_t i = 2; i + 1 < fields.size(); i += 2) list.destinations.push_back({fields[i], fields[i + 1]});
  return list;
}

DestinationList fetchDestinations(Scope scope, std::chrono::steady_clock::time_point deadline) {
  DestinationList timedOut;
  timedOut.fetched = true;
  timedOut.failure = "no answer within " + std::to_string(kSchedulerBudget.count()) + " seconds";
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    timedOut.failure = fileErrorText(errno);
    return timedOut;
  }
  FileDescriptor readEnd(pipeFds[0]);
  FileDescriptor writeEnd(pipeFds[1]);
  std::fflush(nullptr);  // the child must not write out the parent's buffers again
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    timedOut.failure = fileErrorText(errno);
    return timedOut;
  }
  if (child == 0) {
    // The child keeps only its answer pipe: no lock or file of the run's may
    // outlive the run in it, and it dies with the run.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent || ::dup2(writeEnd.get(), kAnswerFd) != kAnswerFd) ::_exit(1);
    ::close_range(kAnswerFd + 1, ~0U, 0);
    writeAllBytes(kAnswerFd, askScheduler(scope));
    ::_exit(0);
  }
  writeEnd.close();
  std::string answer;
  const bool complete = readUntil(readEnd.get(), deadline, answer);
  if (!complete) ::kill(child, SIGKILL);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  return complete ? parseAnswer(answer) : timedOut;
}

}  // namespace

const Destination* findDestination(const std::vector<Destination>& destinations, std::string_view queue) {
  // cupsGetDest on a list rebuilt with cupsAddDest keeps libcups's own
  // comparison of names.
  cups_dest_t* list = nullptr;
  int count = 0;
  for (const Destination& destination : destinations) {
    count = cupsAddDest(destination.name.c_str(), destination.instance.empty() ? nullptr : destination.instance.c_str(),
                        count, &list);
  }
  const cups_dest_t* found = cupsGetDest(std::string(queue).c_str(), nullptr, count, list);
  // cupsAddDest keeps each name as given: the one found is ours, exactly.
  const auto ours = std::find_if(destinations.begin(), destinations.end(), [found](const Destination& destination) {
    return found != nullptr && destination.instance.empty() && destination.name == found->name;
  });
  cupsFreeDests(count, list);
  return ours == destinations.end() ? nullptr : &*ours;
}

void CupsQueueDirectory::fetchLocalDestinations() {
  if (local_.fetched) return;
  if (!clockStarted_) {
    deadline_ = std::chrono::steady_clock::now() + budget_;
    clockStarted_ = true;
  }
  local_ = fetchDestinations(Scope::SchedulerOnly, deadline_);
}

void CupsQueueDirectory::noteFailure(const DestinationList& list) {
  if (list.answered || unreachableReported_) return;
  std::fprintf(stderr, "zorvadmin: cannot reach the CUPS scheduler: %s; queue names were not checked\n",
               list.failure.c_str());
  unreachableReported_ = true;
}

const Destination* CupsQueueDirectory::find(std::string_view queue) {
  fetchLocalDestinations();
  if (!local_.answered) {
    noteFailure(local_);
    return nullptr;
  }
  if (const Destination* found = findDestination(local_.destinations, queue)) return found;
  if (!all_.fetched) all_ = fetchDestinations(Scope::WithBrowsing, deadline_);
  noteFailure(all_);
  return findDestination(all_.destinations, queue);
}

void CupsQueueDirectory::lookUp(const std::vector<std::string>& names) {
  fetchLocalDestinations();
  for (const std::string& name : names) find(name);
}

bool CupsQueueDirectory::knows(std::string_view queue) { return find(queue) != nullptr; }

std::string CupsQueueDirectory::spelling(std::string_view queue) {
  const Destination* destination = find(queue);
  return destination != nullptr ? destination->name : std::string(queue);
}

}  // namespace zorv
