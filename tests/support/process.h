// Runs the real zorvadmin binary and captures what a user would see, and
// small file helpers for the tests' private directories.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zorv::test {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// What exec needs, built before fork: the test programs run threads (stand-in
// schedulers, runs side by side), and a forked child of a threaded process
// must not allocate; a lock another thread held at fork stays taken in the
// child, which then hangs before exec (seen under the sanitizers' allocator).
class ExecImage {
 public:
  // command: the program, then its arguments; env's entries replace this
  // process's (an empty value unsets).
  ExecImage(const std::vector<std::string>& command, const std::map<std::string, std::string>& env);
  ExecImage(const ExecImage&) = delete;
  ExecImage& operator=(const ExecImage&) = delete;

  // In the child: only async-signal-safe calls; exits 127 when exec fails.
  [[noreturn]] void exec() const;

 private:
  std::vector<std::string> command_;
  std::vector<std::string> environment_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

// Runs command (the program, then its arguments) with env applied.
RunResult runProgram(const std::vector<std::string>& command, const std::map<std::string, std::string>& env = {});

// Reads a child's standard output and error pipes to their end into result;
// otherFd, when given, is watched too and onOther called when it is ready.
void drainPipes(int outFd, int errFd, RunResult& result, int otherFd = -1, const std::function<void()>& onOther = {});

std::string zorvadminPath();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);

// A socket of type (SOCK_STREAM, SOCK_DGRAM) bound at path, close-on-exec;
// -1 with errno set when it cannot be made or bound.
int boundUnixSocket(const std::string& path, int type);

// A fresh directory under /tmp, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace zorv::test
