#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace zorv::test {
void drainPipes(int outFd, int errFd, RunResult& result, int otherFd, const std::function<void()>& onOther) {
  std::array<pollfd, 3> fds{{{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {otherFd, POLLIN, 0}}};
  int open = 2;
  std::array<char, 65536> buffer{};
  while (open > 0) {
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (otherFd >= 0 && fds[2].revents != 0) onOther();
    for (std::size_t i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buffer.data(), buffer.size());
      if (got <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? result.out : result.err).append(buffer.data(), static_cast<std::size_t>(got));
    }
  }
}

ExecImage::ExecImage(const std::vector<std::string>& command, const std::map<std::string, std::string>& env)
    : command_(command) {
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    if (env.count(std::string(text.substr(0, text.find('=')))) == 0) environment_.emplace_back(text);
  }
  for (const auto& [name, value] : env) {
    if (!value.empty()) environment_.push_back(name + "=" + value);
  }
  for (std::string& arg : command_) argv_.push_back(arg.data());
  argv_.push_back(nullptr);
  for (std::string& entry : environment_) envp_.push_back(entry.data());
  envp_.push_back(nullptr);
}

void ExecImage::exec() const {
  ::execvpe(argv_[0], argv_.data(), envp_.data());
  ::_exit(127);
}

RunResult runProgram(const std::vector<std::string>& command, const std::map<std::string, std::string>& env) {
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const ExecImage image(command, env);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    image.exec();
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  RunResult result;
  drainPipes(outPipe[0], errPipe[0], result);
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return result;
}

std::string zorvadminPath() {
  const char* fromEnvironment = std::getenv("ZORVADMIN_UNDER_TEST");
  return fromEnvironment != nullptr ? fromEnvironment : ZORVADMIN_PATH;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool fileExists(const std::string& path) {
  struct stat info{};
  return ::lstat(path.c_str(), &info) == 0;
}

int boundUnixSocket(const std::string& path, int type) {
  const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  const int error = errno;
  ::close(fd);
  errno = error;
  return -1;
}

TempDir::TempDir() {
  std::string pattern = "/tmp/zorvtest.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zorv::test
