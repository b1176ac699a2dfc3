#include "support/scheduler.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zorv::test {
namespace {

// Backends the tests' device URIs use; lpadmin refuses a scheme without one.
constexpr const char* kBackends[] = {"parallel", "usb", "zorv", "smb", "socket"};
constexpr const char* kLinkedServerBinDirs[] = {"daemon", "filter", "notifier", "cgi-bin", "driver", "monitor"};

}  // namespace

CupsScheduler& CupsScheduler::shared() {
  static CupsScheduler scheduler;
  return scheduler;
}

std::map<std::string, std::string> CupsScheduler::clientEnv() const { return {{"CUPS_SERVER", socketPath()}}; }

void CupsScheduler::writeConfiguration() const {
  const std::string& root = dir_.path();
  for (const char* sub : {"bin", "bin/backend", "cache", "state", "spool", "tmp", "log"}) {
    ::mkdir(dir_.file(sub).c_str(), 0755);
  }
  ::chmod(root.c_str(), 0755);
  for (const char* backend : kBackends) {
    const std::string path = dir_.file(std::string("bin/backend/") + backend);
    writeFile(path, "#!/bin/sh\nexit 0\n");
    ::chmod(path.c_str(), 0755);
  }
  for (const char* sub : kLinkedServerBinDirs) {
    const std::string target = std::string("/usr/lib/cups/") + sub;
    if (::access(target.c_str(), F_OK) != 0) continue;
    if (::symlink(target.c_str(), dir_.file(std::string("bin/") + sub).c_str()) != 0) {
      throw std::runtime_error(std::string("cannot link ") + target);
    }
  }
  writeFile(dir_.file("cupsd.conf"), "Listen " + socketPath() +
                                         "\nDirtyCleanInterval 0\nBrowsing No\nWebInterface No\n"
                                         "AccessLogLevel all\nLogLevel warn\n"
                                         "<Location />\nOrder allow,deny\nAllow all\n</Location>\n");
  std::ostringstream files;
  files << "ServerRoot " << root << "\nServerBin " << root << "/bin\nCacheDir " << root << "/cache\nStateDir "
        << root << "/state\nRequestRoot " << root << "/spool\nTempDir " << root << "/tmp\nAccessLog " << root
        << "/log/access_log\nErrorLog " << root << "/log/error_log\nPageLog " << root
        << "/log/page_log\nSystemGroup root\nFileDevice Yes\n";
  writeFile(dir_.file("cups-files.conf"), files.str());
}

void CupsScheduler::start() {
  writeConfiguration();
  // Built before fork: the child of a threaded test must not allocate.
  const std::string conf = dir_.file("cupsd.conf");
  const std::string filesConf = dir_.file("cups-files.conf");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a test program that dies
    const int devNull = ::open("/dev/null", O_RDWR);
    ::dup2(devNull, 0);
    ::dup2(devNull, 1);
    ::dup2(devNull, 2);
    ::execlp("cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s", filesConf.c_str(), nullptr);
    ::_exit(127);
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (fileExists(socketPath()) && runProgram({"lpstat", "-r"}, clientEnv()).status == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  throw std::runtime_error("cupsd did not start; see " + dir_.file("log/error_log"));
}

void CupsScheduler::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void CupsScheduler::lpadmin(const std::vector<std::string>& args) {
  std::vector<std::string> command{"lpadmin"};
  command.insert(command.end(), args.begin(), args.end());
  const RunResult result = runProgram(command, clientEnv());
  if (result.status != 0) throw std::runtime_error("lpadmin failed: " + result.err);
}

void CupsScheduler::addQueue(const std::string& name, const std::string& uri) { lpadmin({"-p", name, "-v", uri, "-E"}); }

void CupsScheduler::removeQueue(const std::string& name) { lpadmin({"-x", name}); }

void CupsScheduler::addQueues(const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) addQueue(prefix + std::to_string(i), "zorv:/var/run/zorv/filler.fifo");
}

void CupsScheduler::removeQueues(const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) removeQueue(prefix + std::to_string(i));
}

void CupsScheduler::setDefault(const std::string& name) { lpadmin({"-d", name}); }

int CupsScheduler::accessLogCount(const std::string& operation) const {
  std::istringstream log(readFile(dir_.file("log/access_log")));
  int count = 0;
  for (std::string line; std::getline(log, line);) {
    if (line.find(" " + operation + " ") != std::string::npos) ++count;
  }
  return count;
}

}  // namespace zorv::test
