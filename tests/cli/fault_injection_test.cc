// Nothing is ever lost: the real binary is killed at, or fails in, each
// file-changing system call of an add (strace's fault injection), and the
// configuration must always be whole, either the old or the new bytes; and
// the new file reaches the disk before it replaces the configuration.
//
// strace sees only calls on the configuration's own files (-P): libcups
// talks to the scheduler and, with DNS-SD running, to D-Bus and
// avahi-daemon, and those calls would otherwise shift the N in when=N.
// The new file has no name until just before the move, so -P cannot see
// its writes and syncs: those are found, and made to fail, in runs traced
// without -P. Calls are found by what they do to which file, never by
// position, so a step added to the sequence is exercised without changing
// these tests.
#include <algorithm>
#include <csignal>
#include <map>
#include <sstream>

#include <unistd.h>

#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

struct Syscall {
  std::string name;
  int occurrence = 0;              // 1 for the first traced call of this name in its process, as when=N counts
  std::vector<std::string> paths;  // file names given, resolved against their directory descriptor
  std::string fdPath;              // the file of the first descriptor argument (strace -y)
  std::string result;              // what strace shows after " = "
  std::string text;                // the traced line
  bool byPath = true;              // seen through -P; else counted among all the process's calls

  bool failed() const { return result.rfind("-1 ", 0) == 0; }
  // The file the call acts on: its first file name, else its descriptor's.
  std::string target() const { return paths.empty() ? fdPath : paths.front(); }
};

// rename, renameat and renameat2 are one step to these tests, and so on.
std::string family(const std::string& name) {
  static const std::map<std::string, std::string> families = {
      {"open", "open"},         {"openat", "open"},     {"write", "write"},     {"pwrite64", "write"},
      {"writev", "write"},      {"read", "read"},       {"pread64", "read"},    {"fsync", "fsync"},
      {"fdatasync", "fsync"},   {"rename", "rename"},   {"renameat", "rename"}, {"renameat2", "rename"},
      {"link", "link"},         {"linkat", "link"},     {"unlink", "unlink"},   {"unlinkat", "unlink"},
      {"fchmod", "chmod"},      {"fchmodat", "chmod"},  {"fchown", "chown"},    {"fchownat", "chown"}};
  const auto found = families.find(name);
  return found == families.end() ? name : found->second;
}

const char* const kTracedCalls =
    "trace=open,openat,write,pwrite64,writev,read,pread64,fsync,fdatasync,rename,renameat,renameat2,"
    "link,linkat,unlink,unlinkat,fchmod,fchmodat,fchown,fchownat";

// The arguments of "name(a, b, c) = r", split at the top-level commas.
bool splitCall(const std::string& line, std::size_t open, std::vector<std::string>& args, std::string& result) {
  int depth = 0;
  bool quoted = false;
  std::string current;
  for (std::size_t i = open; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      current += c;
      if (c == '\\' && i + 1 < line.size()) {
        current += line[++i];
      } else if (c == '"') {
        quoted = false;
      }
      continue;
    }
    if (c == '"') quoted = true;
    if (c == '(' || c == '[' || c == '{') {
      if (depth++ == 0) continue;
    } else if (c == ')' || c == ']' || c == '}') {
      if (--depth == 0) {
        if (!current.empty()) args.push_back(current);
        const auto equals = line.find(" = ", i);
        if (equals != std::string::npos) result = line.substr(equals + 3);
        return true;
      }
    } else if (c == ',' && depth == 1) {
      args.push_back(current);
      current.clear();
      continue;
    }
    if (!(current.empty() && c == ' ')) current += c;
  }
  return false;  // an unfinished call: its result comes on another line
}

// "3</tmp/d/zorv.conf~>" or "AT_FDCWD</tmp/d>": the file, else empty. An
// unnamed file shows as "5</tmp/d/#1234>(deleted)".
std::string descriptorPath(std::string arg) {
  const std::string deleted = "(deleted)";
  if (arg.size() > deleted.size() && arg.compare(arg.size() - deleted.size(), deleted.size(), deleted) == 0) {
    arg.resize(arg.size() - deleted.size());
  }
  const auto angle = arg.find('<');
  if (angle == std::string::npos || angle == 0 || arg.back() != '>') return "";
  const std::string fd = arg.substr(0, angle);
  if (fd != "AT_FDCWD" && fd.find_first_not_of("0123456789") != std::string::npos) return "";
  return arg.substr(angle + 1, arg.size() - angle - 2);
}

bool carriesData(const std::string& name) { return family(name) == "write" || family(name) == "read"; }

// The lines of `strace -f -y`, with the occurrence of each call by name;
// strace counts each process (and thread) on its own.
std::vector<Syscall> parseTrace(const std::string& trace) {
  std::vector<Syscall> calls;
  std::map<std::string, int> counts;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const auto nameStart = line.find_first_not_of("0123456789 ");
    if (nameStart == std::string::npos || line[nameStart] == '<' || line[nameStart] == '-' ||
        line[nameStart] == '+') {
      continue;  // a resumed call (counted where it began), a signal, an exit
    }
    const auto paren = line.find('(', nameStart);
    if (paren == std::string::npos) continue;
    Syscall call;
    call.name = line.substr(nameStart, paren - nameStart);
    const std::string pid = line.substr(0, line.find_first_not_of("0123456789"));
    call.occurrence = ++counts[pid + " " + call.name];
    call.text = line;
    std::vector<std::string> args;
    splitCall(line, paren, args, call.result);
    std::string directory;
    for (const std::string& arg : args) {
      const std::string fdPath = descriptorPath(arg);
      if (!fdPath.empty()) {
        if (call.fdPath.empty() && arg.rfind("AT_FDCWD", 0) != 0) call.fdPath = fdPath;
        directory = fdPath;
        continue;
      }
      if (arg.size() < 2 || arg.front() != '"' || carriesData(call.name)) continue;
      const std::string name = arg.substr(1, arg.find('"', 1) - 1);
      if (name.empty()) continue;  // AT_EMPTY_PATH
      call.paths.push_back(name.front() == '/' || directory.empty() ? name : directory + "/" + name);
    }
    calls.push_back(call);
  }
  return calls;
}

const std::vector<std::string> kAdd = {"-p", "Q1", "-o", "/dev/usb/lp1"};

class FaultInjectionTest : public CliTest {
 protected:
  void SetUp() override {
    before_ = configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"
                                     "<Printer Q3>\nDevicePath /dev/usb/lp3\n# Q3's note\n</Printer>\n\n");
    after_ = configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"
                                    "<Printer Q3>\nDevicePath /dev/usb/lp3\n# Q3's note\n</Printer>\n\n"
                                    "<Printer Q1>\nDevicePath /dev/usb/lp1\n</Printer>\n\n");
    // The backup of an earlier change: a failed run must leave it as it is.
    olderBackup_ = configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp9\n</Printer>\n\n");
    resetFiles();
  }

  std::string newFile() const { return conf() + "~"; }
  std::string backup() const { return conf() + ".bak"; }
  std::string backupInWaiting() const { return conf() + ".bak~"; }

  // Removed first: after a run the backup may be a hard link to the
  // configuration, and writing one would change the other.
  void resetFiles() {
    // The lock too: creating it is a call of its own, so every run counts the same calls.
    for (const std::string& path : {conf(), backup(), newFile(), backupInWaiting(), conf() + ".lock"}) {
      ::unlink(path.c_str());
    }
    for (const std::string& name : newFilesLeft()) ::unlink(file(name).c_str());
    writeConf(before_);
    writeFile(backup(), olderBackup_);
  }

  // strace in front of the binary, seeing only the configuration's files;
  // LeakSanitizer cannot run under ptrace.
  RunResult traced(const std::vector<std::string>& straceArgs, const std::vector<std::string>& args = kAdd,
                   bool byPath = true) {
    std::vector<std::string> wrapper{"strace", "-f", "-qq"};
    for (const std::string& path :
         {conf(), newFile(), backup(), backupInWaiting(), conf() + ".lock", dir_.path()}) {
      if (byPath) wrapper.insert(wrapper.end(), {"-P", path});
    }
    wrapper.insert(wrapper.end(), straceArgs.begin(), straceArgs.end());
    return runWrapped(wrapper, args, {{"ASAN_OPTIONS", "detect_leaks=0"}});
  }

  std::vector<Syscall> traceRun(const std::string& filter, const std::vector<std::string>& args = kAdd,
                                bool byPath = true) {
    const std::string traceFile = file("trace");
    const RunResult result = traced({"-y", "-o", traceFile, "-e", filter}, args, byPath);
    EXPECT_EQ(result.status, 0) << result.err;
    return parseTrace(readFile(traceFile));
  }

  bool onUnnamedFile(const Syscall& call) const { return call.fdPath.rfind(dir_.path() + "/#", 0) == 0; }

  // The calls of one undisturbed add, in order; those on the unnamed new
  // file come from a second run without -P, and only those that when=N can
  // hit alone: no other process of the run (the lookup's) makes that call
  // as often.
  std::vector<Syscall> traceAdd() {
    std::vector<Syscall> calls = traceRun(kTracedCalls);
    EXPECT_EQ(readConf(), after_);
    EXPECT_EQ(readFile(backup()), before_);
    resetFiles();
    const std::vector<Syscall> all = traceRun(kTracedCalls, kAdd, false);
    resetFiles();
    std::map<std::string, int> mostByOthers;
    std::vector<Syscall> unnamed;
    for (const Syscall& call : all) {
      if (!onUnnamedFile(call)) continue;
      unnamed.push_back(call);
      unnamed.back().byPath = false;
    }
    for (const Syscall& call : all) {
      const std::string pid = call.text.substr(0, call.text.find(' '));
      if (unnamed.empty() || pid == unnamed.front().text.substr(0, unnamed.front().text.find(' '))) continue;
      mostByOthers[call.name] = std::max(mostByOthers[call.name], call.occurrence);
    }
    std::erase_if(unnamed, [&](const Syscall& call) { return mostByOthers[call.name] >= call.occurrence; });
    EXPECT_FALSE(unnamed.empty()) << "no call on an unnamed new file";
    const auto creation = std::find_if(calls.begin(), calls.end(), [](const Syscall& call) {
      return call.text.find("O_TMPFILE") != std::string::npos;
    });
    EXPECT_NE(creation, calls.end()) << "no unnamed new file";
    calls.insert(creation == calls.end() ? calls.end() : creation + 1, unnamed.begin(), unnamed.end());
    return calls;
  }

  // Where the new file gets its name: from there on a killed run may leave
  // it, for the next change to remove.
  std::size_t naming(const std::vector<Syscall>& calls) const {
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (family(calls[i].name) == "link" && !calls[i].paths.empty() && calls[i].paths.back() == newFile()) return i;
    }
    ADD_FAILURE() << "no link of the new file to " << newFile();
    return calls.size();
  }

  // Where the new file replaces the configuration: from there on a failure
  // leaves the new bytes in place.
  std::size_t moveIntoPlace(const std::vector<Syscall>& calls) const {
    for (std::size_t i = 0; i < calls.size(); ++i) {
      const Syscall& call = calls[i];
      if (family(call.name) == "rename" && call.paths.size() == 2 && call.paths[0] == newFile() &&
          call.paths[1] == conf()) {
        return i;
      }
    }
    ADD_FAILURE() << "no rename of " << newFile() << " over " << conf();
    return calls.size();
  }

  // A failure before the move: one message naming the file, no listing,
  // every file as it was.
  void expectUnchanged(const RunResult& result, bool backupKept = true) const {
    EXPECT_EQ(result.status, 3) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("zorvadmin: cannot "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(dir_.path()), std::string::npos) << result.err;
    const std::optional<std::string> backupNow =
        fileExists(backup()) ? std::optional<std::string>(readFile(backup())) : std::nullopt;
    expectFiles(before_, backupKept ? olderBackup_ : backupNow);
  }

  void expectAdded(const RunResult& result) const {
    EXPECT_EQ(result.status, 0) << result.err;
    expectFiles(after_, before_);
  }

  // The backup is never anything but a whole earlier file.
  void expectBackupWhole() const {
    if (!fileExists(backup())) return;
    const std::string content = readFile(backup());
    EXPECT_TRUE(content == olderBackup_ || content == before_) << content;
  }

  // A later run finishes the job and removes what a killed run left.
  void expectLaterAddSucceeds() const {
    const RunResult again = run(kAdd);
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(readConf(), after_);
    EXPECT_EQ(newFilesLeft(), std::vector<std::string>{});
    EXPECT_FALSE(fileExists(backupInWaiting()));
  }

  RunResult inject(const Syscall& call, const std::string& action) {
    return traced({"-o", "/dev/null", "-e", "trace=" + call.name, "-e",
                   "inject=" + call.name + ":" + action + ":when=" + std::to_string(call.occurrence)},
                  kAdd, call.byPath);
  }

  std::string before_;
  std::string after_;
  std::string olderBackup_;
};

bool changesFiles(const Syscall& call) {
  const std::string kind = family(call.name);
  if (kind == "open") return call.text.find("O_CREAT") != std::string::npos || call.text.find("O_TMPFILE") != std::string::npos;
  return kind == "write" || kind == "fsync" || kind == "rename" || kind == "link" || kind == "unlink" ||
         kind == "chmod" || kind == "chown";
}

bool readsOnly(const Syscall& call) {
  const std::string kind = family(call.name);
  if (kind == "open") return call.text.find("O_RDONLY") != std::string::npos && !changesFiles(call);
  return kind == "read";
}

TEST_F(FaultInjectionTest, KilledAtAnyFileChangingCallTheFileIsOldOrNew) {
  std::map<std::string, int> killed;
  const std::vector<Syscall> calls = traceAdd();
  const std::size_t named = naming(calls);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Syscall& call = calls[i];
    if (!changesFiles(call)) continue;
    SCOPED_TRACE(call.text);
    EXPECT_EQ(inject(call, "signal=KILL").status, 128 + 9);
    ++killed[family(call.name)];
    ASSERT_TRUE(fileExists(conf()));
    const std::string content = readConf();
    EXPECT_TRUE(content == before_ || content == after_) << content;
    expectBackupWhole();
    // Killed before the new file has a name (a signal at a call stops it), nothing is left.
    if (i <= named) {
      EXPECT_EQ(newFilesLeft(), std::vector<std::string>{});
    }
    expectLaterAddSucceeds();
    resetFiles();
  }
  for (const char* kind : {"open", "write", "fsync", "rename", "link"}) {
    EXPECT_GT(killed[kind], 0) << "never killed at " << kind;
  }
  for (const auto& [kind, count] : killed) std::printf("killed at %s: %d\n", kind.c_str(), count);
}

// Every signal that ends a run without a handler, at chosen steps: while
// the new file has no name (its write, its sync) a killed run leaves
// nothing; named, just before the move, it may leave the file, and the
// next change removes it.
TEST_F(FaultInjectionTest, KilledRunsLeaveNothingOnceTheNextChangeIsDone) {
  const std::vector<Syscall> calls = traceAdd();
  const std::size_t named = naming(calls);
  const std::size_t move = moveIntoPlace(calls);
  ASSERT_LT(move, calls.size());
  std::vector<std::size_t> chosen;
  for (const char* kind : {"write", "fsync"}) {
    const auto found = std::find_if(calls.begin(), calls.end(),
                                    [&](const Syscall& call) { return !call.byPath && family(call.name) == kind; });
    ASSERT_NE(found, calls.end()) << kind;
    chosen.push_back(static_cast<std::size_t>(found - calls.begin()));
  }
  chosen.push_back(move);
  const std::vector<std::pair<std::string, int>> signals = {{"KILL", SIGKILL}, {"QUIT", SIGQUIT}, {"ALRM", SIGALRM}, {"XFSZ", SIGXFSZ}};
  for (const auto& [name, number] : signals) {
    for (const std::size_t i : chosen) {
      SCOPED_TRACE(name + " at " + calls[i].text);
      EXPECT_EQ(inject(calls[i], "signal=" + name).status, 128 + number);
      const std::string content = readConf();
      EXPECT_TRUE(content == before_ || content == after_) << content;
      if (i < named) {
        EXPECT_EQ(newFilesLeft(), std::vector<std::string>{});
      }
      expectLaterAddSucceeds();
      resetFiles();
    }
  }
}

// Where unnamed files are refused (a file system without them, an old
// kernel), the new file is named from the start, and all else holds.
TEST_F(FaultInjectionTest, UnnamedFileRefusedTakesTheNamedWay) {
  const std::vector<Syscall> calls = traceAdd();
  const auto creation = std::find_if(calls.begin(), calls.end(), [](const Syscall& call) {
    return call.text.find("O_TMPFILE") != std::string::npos;
  });
  ASSERT_NE(creation, calls.end());
  for (const char* error : {"EOPNOTSUPP", "EISDIR", "EINVAL"}) {
    SCOPED_TRACE(error);
    const std::string trace = file("named-trace");
    const RunResult result = traced({"-y", "-o", trace, "-e", "trace=" + creation->name, "-e",
                                     "inject=" + creation->name + ":error=" + error + ":when=" + std::to_string(creation->occurrence)});
    expectAdded(result);
    EXPECT_NE(readFile(trace).find("\"" + newFile() + "\", O_RDWR|O_CREAT|O_EXCL"), std::string::npos) << readFile(trace);
    resetFiles();
  }
}

TEST_F(FaultInjectionTest, InjectedFailuresChangeNothing) {
  const std::map<std::string, std::string> errors = {
      {"open", "EACCES"}, {"read", "EIO"},    {"write", "ENOSPC"}, {"fsync", "EIO"},  {"rename", "EIO"},
      {"link", "EPERM"},  {"unlink", "EIO"},  {"chmod", "EPERM"},  {"chown", "EPERM"}};
  const std::vector<Syscall> calls = traceAdd();
  const std::size_t move = moveIntoPlace(calls);
  std::map<std::string, int> tried;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Syscall& call = calls[i];
    const std::string kind = family(call.name);
    if (errors.count(kind) == 0) continue;
    SCOPED_TRACE(call.text);
    const RunResult result = inject(call, "error=" + errors.at(kind));
    ++tried[kind];
    if (kind == "link" && call.paths.back() == newFile()) {
      // The new file cannot be named: nothing changed, nothing left.
      expectUnchanged(result);
    } else if (kind == "link") {
      // A file system without hard links: the backup becomes a copy.
      expectAdded(result);
    } else if (i > move) {
      // The new file is in place: the run reports the failure and a later
      // run finishes the job.
      EXPECT_EQ(result.status, 3) << result.err;
      EXPECT_NE(result.err.find("zorvadmin: cannot "), std::string::npos) << result.err;
      EXPECT_NE(result.err.find(dir_.path()), std::string::npos) << result.err;
      if (kind == "fsync" && call.fdPath == dir_.path()) {
        EXPECT_NE(result.err.find("cannot sync directory " + dir_.path()), std::string::npos) << result.err;
      }
      EXPECT_EQ(readConf(), after_);
      EXPECT_FALSE(fileExists(newFile()));
      expectBackupWhole();
      expectLaterAddSucceeds();
    } else if (readsOnly(call) || (kind == "unlink" && call.failed())) {
      // A read that only decides whether to write (is the new file the
      // same?), or clearing away a leftover that was not there: stopping and
      // going on are both safe, as long as the file comes out whole.
      if (result.status == 0) {
        expectAdded(result);
      } else {
        expectUnchanged(result);
      }
    } else {
      // The move itself is checked with the backup by the test below.
      expectUnchanged(result, i != move);
    }
    resetFiles();
  }
  int total = 0;
  for (const auto& [kind, count] : tried) {
    std::printf("injected %s failures: %d\n", kind.c_str(), count);
    total += count;
  }
  for (const char* kind : {"open", "read", "write", "fsync", "rename", "link"}) {
    EXPECT_GT(tried[kind], 0) << "no failure injected in " << kind;
  }
  std::printf("injected failures in all: %d\n", total);
}

// A configuration that cannot be replaced (bind-mounted: EBUSY; immutable:
// EPERM) keeps the backup of the change before.
TEST_F(FaultInjectionTest, FailedMoveIntoPlaceKeepsTheOlderBackup) {
  const std::vector<Syscall> calls = traceAdd();
  const std::size_t move = moveIntoPlace(calls);
  ASSERT_LT(move, calls.size());
  for (const char* error : {"EBUSY", "EPERM"}) {
    SCOPED_TRACE(error);
    expectUnchanged(inject(calls[move], std::string("error=") + error));
    resetFiles();
  }
}

// Each run that writes the configuration syncs the new file's data once,
// after its last write (never an empty file, never before each write),
// makes the replaced version's second name durable (link, directory sync)
// before the move and the move after it (directory sync), and never syncs
// the whole machine. Traced without -P: the unnamed file and sync() name no
// path.
using DurabilityOrderTest = FaultInjectionTest;

TEST_F(DurabilityOrderTest, OneDataSyncDirectorySyncsAroundTheMoveNoSystemWideSync) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    bool configExists;
  };
  const std::vector<Case> cases = {{"add", kAdd, true},
                                   {"remove", {"-x", "Q2"}, true},
                                   {"--set", {"--quiet", "--set", "UI_Port", "59788"}, true},
                                   {"--restore", {"--restore", "--quiet"}, true},
                                   {"default file", {}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    resetFiles();
    if (!c.configExists) ::unlink(conf().c_str());
    const std::vector<Syscall> calls = traceRun(
        "trace=sync,syncfs,fsync,fdatasync,rename,renameat,renameat2,write,pwrite64,writev,link,linkat", c.args, false);
    const std::size_t move = moveIntoPlace(calls);
    ASSERT_LT(move, calls.size());
    std::size_t lastWrite = calls.size();
    std::vector<std::size_t> dataSyncs;
    std::vector<std::size_t> directorySyncs;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      const Syscall& call = calls[i];
      EXPECT_NE(call.name, "sync") << call.text;
      EXPECT_NE(call.name, "syncfs") << call.text;
      const bool onNewFile = onUnnamedFile(call) || call.fdPath == newFile();
      if (family(call.name) == "write" && onNewFile && i < move) lastWrite = i;
      if (family(call.name) != "fsync") continue;
      EXPECT_FALSE(call.failed()) << call.text;
      (call.fdPath == dir_.path() ? directorySyncs : dataSyncs).push_back(i);
    }
    ASSERT_LT(lastWrite, move) << "no write to the new file";
    ASSERT_EQ(dataSyncs.size(), 1U) << "data syncs";
    EXPECT_GT(dataSyncs[0], lastWrite) << "the data sync precedes the last write";
    EXPECT_LT(dataSyncs[0], move) << "the data sync follows the move";
    ASSERT_FALSE(directorySyncs.empty());
    EXPECT_GT(directorySyncs.back(), move) << "directory not synced after the move";
    if (!c.configExists) continue;
    // The replaced version's second name reaches the disk before the move.
    std::size_t link = calls.size();
    for (std::size_t i = 0; i < move; ++i) {
      if (family(calls[i].name) == "link" && calls[i].paths.size() == 2 && calls[i].paths[1] == backupInWaiting()) link = i;
    }
    ASSERT_LT(link, move) << "no link of the configuration to " << backupInWaiting();
    EXPECT_GT(link, dataSyncs[0]);
    ASSERT_EQ(directorySyncs.size(), 2U);
    EXPECT_TRUE(directorySyncs[0] > link && directorySyncs[0] < move) << "directory not synced between the link and the move";
  }
}

// Where the file system has no hard links the backup is a copy, written
// under a name of its own and renamed to its place only when whole: a
// crash mid-copy cannot leave a short file for --restore to promote. Only
// the backup's link is refused: the new files are named by linkat.
TEST_F(DurabilityOrderTest, BackupCopyIsRenamedIntoPlaceWhenWhole) {
  const std::string trace = file("trace");
  // Every call of the run's own process: the copy's name is not known beforehand.
  const RunResult result = runWrapped({"strace", "-qq", "-y", "-o", trace, "-e",
                                       "trace=open,openat,rename,renameat,renameat2,write,link,linkat", "-e",
                                       "inject=link:error=EPERM"},
                                      kAdd, {{"ASAN_OPTIONS", "detect_leaks=0"}});
  expectAdded(result);
  bool renamedIntoPlace = false;
  for (const Syscall& call : parseTrace(readFile(trace))) {
    const std::string kind = family(call.name);
    EXPECT_FALSE(kind == "open" && call.target() == backupInWaiting()) << call.text;
    EXPECT_FALSE(kind == "write" && call.fdPath == backupInWaiting()) << call.text;
    renamedIntoPlace = renamedIntoPlace || (kind == "rename" && call.paths.size() == 2 &&
                                            call.paths[0].rfind(backupInWaiting(), 0) == 0 &&
                                            call.paths[0] != backupInWaiting() && call.paths[1] == backupInWaiting());
  }
  EXPECT_TRUE(renamedIntoPlace);
}

}  // namespace
}  // namespace zorv::test
