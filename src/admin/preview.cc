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

int printPreview(const std::string& path, std::string_view newContent) {
  FileDescriptor memory(::memfd_create("zorv-preview", 0));
  if (!memory.valid() || writeAllBytes(memory.get(), newContent) != 0) {
    reportProblem("cannot prepare the preview: %s", std::strerror(errno));
    return -1;
  }
  const std::string newName = "/dev/fd/" + std::to_string(memory.get());
  const std::string newLabel = path + " (new)";
  std::fflush(stdout);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/usr/bin/diff", "diff", "-u", "--label", path.c_str(), "--label", newLabel.c_str(), path.c_str(),
            newName.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    reportProblem("cannot show the change: diff failed");
    return -1;
  }
  return 0;
}

}  // namespace zorv
