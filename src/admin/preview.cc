#include "admin/preview.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/file_descriptor.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

PreviewCapture* capture = nullptr;

// What diff wrote to the memory file out.
int readBack(const FileDescriptor& out, std::string& into) {
  if (::lseek(out.get(), 0, SEEK_SET) != 0) return -1;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(out.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return static_cast<int>(got);
    into.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

PreviewCapture::PreviewCapture(bool active) : active_(active) {
  if (active_) capture = this;
}

PreviewCapture::~PreviewCapture() {
  if (active_) capture = nullptr;
}

int printPreview(const std::string& path, std::string_view newContent) {
  FileDescriptor memory(::memfd_create("zorv-preview", 0));
  if (!memory.valid() || writeAllBytes(memory.get(), newContent) != 0) {
    reportProblem("cannot prepare the preview: %s", std::strerror(errno));
    return -1;
  }
  const std::string newName = "/dev/fd/" + std::to_string(memory.get());
  const std::string newLabel = path + " (new)";
  FileDescriptor captured(capture != nullptr ? ::memfd_create("zorv-diff", 0) : -1);
  if (capture != nullptr && !captured.valid()) {
    reportProblem("cannot prepare the preview: %s", std::strerror(errno));
    return -1;
  }
  std::fflush(stdout);
  const pid_t child = ::fork();
  if (child == 0) {
    if (captured.valid() && ::dup2(captured.get(), STDOUT_FILENO) < 0) ::_exit(127);
    ::execl("/usr/bin/diff", "diff", "-u", "--label", path.c_str(), "--label", newLabel.c_str(), path.c_str(),
            newName.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    reportProblem("cannot show the change: diff failed");
    return -1;
  }
  if (!captured.valid()) return 0;
  std::string diff;
  if (readBack(captured, diff) != 0) {
    reportProblem("cannot show the change: %s", std::strerror(errno));
    return -1;
  }
  capture->diff_ = std::move(diff);
  return 0;
}

}  // namespace zorv
