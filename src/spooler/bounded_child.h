// Work that may block for as long as another process pleases (a scheduler
// that never answers) runs in a forked child, which is ended at a deadline.
// The child keeps no descriptor of the run but its answer pipe and dies with
// its parent, so a killed run never leaves it holding the run's lock file.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace zorv {

struct ChildOutput {
  bool complete = false;  // the child wrote all it had to say and closed the pipe
  std::string bytes;      // what it wrote until then
  std::string failure;    // why the child could not be started; empty when it was
};

// The descriptor the child writes its answer to.
constexpr int kChildAnswerFd = 3;

// Runs work(kChildAnswerFd) in a child and reads what it writes until it
// ends or the deadline passes; then the child is killed and reaped. The
// parent does meanwhile, when given, while the child works: what the child
// has written by the end of it counts, even past the deadline.
ChildOutput runBoundedChild(std::chrono::steady_clock::time_point deadline, const std::function<void(int)>& work,
                            const std::function<void()>& meanwhile = {});

}  // namespace zorv
