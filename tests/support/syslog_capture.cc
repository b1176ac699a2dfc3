#include "support/syslog_capture.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace zorv::test {
namespace {

constexpr int kSetupFailed = 125;

// One step of making the namespace's /dev, its paths spelled out before
// fork: the child runs the steps without allocating (see ExecImage).
struct DevStep {
  enum Kind { Bind, BindTree, MountTmpfs, CopyLink, MakeDirectory, MakeFile } kind;
  std::string from;
  std::string to;
};

// Reports why the child could not prepare the namespace, then exits.
[[noreturn]] void failSetup(int reportFd, const char* what, const std::string& path) {
  const char* reason = std::strerror(errno);  // glibc's own table, no allocation for known codes
  for (const std::string_view piece : {std::string_view(what), std::string_view(" "), std::string_view(path),
                                       std::string_view(": "), std::string_view(reason)}) {
    [[maybe_unused]] const ssize_t ignored = ::write(reportFd, piece.data(), piece.size());
  }
  ::_exit(kSetupFailed);
}

void runStep(int reportFd, const DevStep& step) {
  switch (step.kind) {
    case DevStep::Bind:
    case DevStep::BindTree:
      if (::mount(step.from.c_str(), step.to.c_str(), nullptr,
                  MS_BIND | (step.kind == DevStep::BindTree ? MS_REC : 0), nullptr) != 0) {
        failSetup(reportFd, "bind over", step.to);
      }
      return;
    case DevStep::MountTmpfs:
      if (::mount("tmpfs", step.to.c_str(), "tmpfs", MS_NOSUID, "mode=0755") != 0) failSetup(reportFd, "tmpfs on", step.to);
      return;
    case DevStep::CopyLink: {
      std::array<char, 4096> target{};
      const ssize_t length = ::readlink(step.from.c_str(), target.data(), target.size() - 1);
      if (length < 0 || ::symlink(target.data(), step.to.c_str()) != 0) failSetup(reportFd, "copy link", step.from);
      return;
    }
    case DevStep::MakeDirectory:
      if (::mkdir(step.to.c_str(), 0755) != 0) failSetup(reportFd, "mkdir", step.to);
      return;
    case DevStep::MakeFile: {
      const int fd = ::open(step.to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) failSetup(reportFd, "create", step.to);
      ::close(fd);
      return;
    }
  }
}

// Containers often have no /dev/log (or a link to a journal socket that does
// not exist), and creating one would change the host's /dev.  So inside the
// namespace /dev becomes a tmpfs holding the host's entries again (nodes and
// directories bound from a bind of the old /dev, links copied), plus a log of
// our own.
std::vector<DevStep> stepsToRebuildDev(const std::string& socketPath, const std::string& oldDev) {
  std::vector<DevStep> steps = {{DevStep::BindTree, "/dev", oldDev}, {DevStep::MountTmpfs, "", "/dev"}};
  DIR* entries = ::opendir("/dev");
  if (entries == nullptr) throw std::runtime_error("opendir /dev");
  while (const dirent* entry = ::readdir(entries)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == "log") continue;
    const std::string from = oldDev + "/" + name;
    const std::string to = "/dev/" + name;
    struct stat info{};
    if (::lstat(("/dev/" + name).c_str(), &info) != 0) continue;
    if (S_ISLNK(info.st_mode)) {
      steps.push_back({DevStep::CopyLink, from, to});
    } else if (S_ISDIR(info.st_mode)) {
      steps.push_back({DevStep::MakeDirectory, "", to});
      steps.push_back({DevStep::BindTree, from, to});
    } else {
      steps.push_back({DevStep::MakeFile, "", to});
      steps.push_back({DevStep::Bind, from, to});
    }
  }
  ::closedir(entries);
  steps.push_back({DevStep::MakeFile, "", "/dev/log"});
  steps.push_back({DevStep::Bind, socketPath, "/dev/log"});
  return steps;
}

// In the child, before exec: a private mount namespace whose /dev/log is
// the test's socket.  Nothing mounted here is seen outside.
void enterNamespaceWithLog(int reportFd, const std::string& socketPath, const std::vector<DevStep>& rebuild) {
  if (::unshare(CLONE_NEWNS) != 0) failSetup(reportFd, "unshare(CLONE_NEWNS)", "");
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) failSetup(reportFd, "make private", "/");
  // An existing /dev/log (or the socket a link points to) is simply covered.
  if (::mount(socketPath.c_str(), "/dev/log", nullptr, MS_BIND, nullptr) == 0) return;
  if (errno != ENOENT) failSetup(reportFd, "bind the socket over", "/dev/log");
  for (const DevStep& step : rebuild) runStep(reportFd, step);
}

void receiveAll(int socketFd, std::vector<std::string>& messages) {
  std::array<char, 65536> buffer{};
  for (;;) {
    const ssize_t got = ::recv(socketFd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EINTR) continue;
      return;
    }
    std::string message(buffer.data(), static_cast<std::size_t>(got));
    // Stream senders end each message with a NUL; datagrams need none.
    if (!message.empty() && message.back() == '\0') message.pop_back();
    messages.push_back(std::move(message));
  }
}

}  // namespace

SyslogRun runCapturingSyslog(const std::vector<std::string>& command, const std::map<std::string, std::string>& env) {
  TempDir scratch;
  const std::string socketPath = scratch.file("log");
  const std::string oldDev = scratch.file("dev");
  if (::mkdir(oldDev.c_str(), 0700) != 0) throw std::runtime_error("mkdir " + oldDev);
  const std::vector<DevStep> rebuild = stepsToRebuildDev(socketPath, oldDev);

  const int socketFd = boundUnixSocket(socketPath, SOCK_DGRAM);
  if (socketFd < 0) throw std::runtime_error("bind " + socketPath);
  if (::chmod(socketPath.c_str(), 0666) != 0) {  // a program that dropped root must still log
    ::close(socketFd);
    throw std::runtime_error("chmod " + socketPath);
  }

  int outPipe[2];
  int errPipe[2];
  int reportPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 || ::pipe2(reportPipe, O_CLOEXEC) != 0) {
    ::close(socketFd);
    throw std::runtime_error("pipe");
  }
  const ExecImage image(command, env);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(reportPipe[0]);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    enterNamespaceWithLog(reportPipe[1], socketPath, rebuild);
    image.exec();
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  ::close(reportPipe[1]);

  // The report pipe closes on exec; anything in it is a setup failure.
  std::string setupError;
  std::array<char, 1024> chunk{};
  for (ssize_t got; (got = ::read(reportPipe[0], chunk.data(), chunk.size())) != 0;) {
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    setupError.append(chunk.data(), static_cast<std::size_t>(got));
  }
  ::close(reportPipe[0]);

  SyslogRun run;
  // Read the socket while the program runs: a full socket buffer would
  // block its syslog() calls.
  drainPipes(outPipe[0], errPipe[0], run.result, socketFd, [&] { receiveAll(socketFd, run.messages); });
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  receiveAll(socketFd, run.messages);
  ::close(socketFd);

  if (!setupError.empty()) throw std::runtime_error("private /dev/log: " + setupError);
  run.result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return run;
}

std::optional<SyslogMessage> parseSyslogMessage(const std::string& raw) {
  if (raw.size() < 3 || raw[0] != '<') return std::nullopt;
  const std::size_t close = raw.find('>');
  if (close == std::string::npos || close == 1 || close > 4) return std::nullopt;
  int priority = 0;
  for (std::size_t i = 1; i < close; ++i) {
    if (raw[i] < '0' || raw[i] > '9') return std::nullopt;
    priority = priority * 10 + (raw[i] - '0');
  }
  if (priority > 191) return std::nullopt;  // facility local7, level debug
  SyslogMessage message;
  message.facility = priority & ~7;
  message.level = priority & 7;

  // "Mmm dd hh:mm:ss " as strftime("%h %e %T ") writes it.
  const std::size_t stamp = close + 1;
  if (raw.size() < stamp + 16 || raw[stamp + 3] != ' ' || raw[stamp + 6] != ' ' || raw[stamp + 15] != ' ') {
    return std::nullopt;
  }
  message.timestamp = raw.substr(stamp, 15);

  const std::size_t tagStart = stamp + 16;
  const std::size_t colon = raw.find(": ", tagStart);
  if (colon == std::string::npos) return std::nullopt;
  std::string tag = raw.substr(tagStart, colon - tagStart);
  message.text = raw.substr(colon + 2);
  const std::size_t bracket = tag.find('[');
  if (bracket != std::string::npos && tag.back() == ']') {
    const std::string digits = tag.substr(bracket + 1, tag.size() - bracket - 2);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    message.pid = std::strtol(digits.c_str(), nullptr, 10);
    tag.resize(bracket);
  }
  message.ident = tag;
  return message;
}

}  // namespace zorv::test
