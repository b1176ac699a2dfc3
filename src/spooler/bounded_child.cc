#include "spooler/bounded_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "io/file_descriptor.h"

namespace zorv {
namespace {

// Reads into out until end of file (true) or the deadline (false); past
// the deadline, only what is there already.
bool readUntil(int fd, std::chrono::steady_clock::time_point deadline, std::string& out) {
  std::array<char, 65536> buffer{};
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;
    out.append(buffer.data(), static_cast<std::size_t>(got));
  }
}

[[noreturn]] void runChild(pid_t parent, int answerFd, const std::function<void(int)>& work) {
  // Dies with the run; a parent already gone before the request was made
  // means nobody waits for the answer.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(1);
  // Only the answer pipe stays open (the standard descriptors too): the
  // run's lock file and configuration must not outlive the run in here.
  if (::dup2(answerFd, kChildAnswerFd) != kChildAnswerFd) ::_exit(1);
  ::close_range(kChildAnswerFd + 1, ~0U, 0);
  work(kChildAnswerFd);
  ::_exit(0);
}

}  // namespace

ChildOutput runBoundedChild(std::chrono::steady_clock::time_point deadline, const std::function<void(int)>& work,
                            const std::function<void()>& meanwhile) {
  ChildOutput output;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    output.failure = fileErrorText(errno);
    return output;
  }
  FileDescriptor readEnd(pipeFds[0]);
  FileDescriptor writeEnd(pipeFds[1]);
  const pid_t parent = ::getpid();
  std::fflush(nullptr);  // the child must not write out the parent's buffers again
  const pid_t child = ::fork();
  if (child < 0) {
    output.failure = fileErrorText(errno);
    return output;
  }
  if (child == 0) runChild(parent, writeEnd.get(), work);
  writeEnd.close();
  if (meanwhile) meanwhile();
  output.complete = readUntil(readEnd.get(), deadline, output.bytes);
  if (!output.complete) ::kill(child, SIGKILL);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  return output;
}

}  // namespace zorv
