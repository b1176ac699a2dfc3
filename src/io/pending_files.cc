#include "io/pending_files.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace zorv {
namespace {

// The new files not yet in place, for the signal handler: fixed buffers,
// as a handler may neither allocate nor lock.
constexpr std::size_t kMaxPendingFiles = 2;  // the new file, and a backup copy
std::array<std::array<char, 4096>, kMaxPendingFiles> gPendingFiles{};
volatile sig_atomic_t gPendingMask = 0;

}  // namespace

int rememberPending(const std::string& path) {
  for (std::size_t slot = 0; slot < kMaxPendingFiles; ++slot) {
    if ((gPendingMask & (1 << slot)) != 0 || path.size() >= gPendingFiles[slot].size()) continue;
    std::memcpy(gPendingFiles[slot].data(), path.c_str(), path.size() + 1);
    gPendingMask = gPendingMask | (1 << slot);
    return static_cast<int>(slot);
  }
  return -1;
}

void forgetPending(int slot) {
  if (slot >= 0) gPendingMask = gPendingMask & ~(1 << slot);
}

namespace {

extern "C" void removePendingAndRaise(int signal) {
  for (std::size_t slot = 0; slot < kMaxPendingFiles; ++slot) {
    if ((gPendingMask & (1 << slot)) != 0) ::unlink(gPendingFiles[slot].data());
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

void removeNewFilesOnSignals() {
  struct sigaction action {};
  action.sa_handler = removePendingAndRaise;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace zorv
