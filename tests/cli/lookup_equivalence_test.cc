// Whether zorvadmin takes a name for a CUPS queue must stay exactly what
// libcups's cupsGetDests + cupsGetDest say, however the lookup is made
// faster; this process asks libcups itself, with the same environment, for
// the reference answer. And a scheduler that is not there, or never
// answers, is reported as such and holds no run for long.
#include <cups/cups.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "cli/cli_fixture.h"
#include "support/stand_in_socket.h"

namespace zorv::test {
namespace {

using Clock = std::chrono::steady_clock;

// Sets an environment variable of this process for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// libcups's own answer for name, as zorvadmin must give it. libcups keeps
// the server and HOME per thread from the first call on, so each answer is
// asked on a fresh thread that sees this environment.
bool referenceAnswer(const std::string& name, const std::string& home) {
  const ScopedEnv server("CUPS_SERVER", CupsScheduler::shared().socketPath());
  const ScopedEnv homeEnv("HOME", home);
  bool found = false;
  std::thread([&] {
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    found = cupsGetDest(name.c_str(), nullptr, count, dests) != nullptr;
    cupsFreeDests(count, dests);
  }).join();
  return found;
}

void runOrThrow(const std::vector<std::string>& command) {
  const RunResult result = runProgram(command, CupsScheduler::shared().clientEnv());
  if (result.status != 0) throw std::runtime_error(command[0] + " failed: " + result.err);
}

// A program left running in the background until the end of the scope.
class Background {
 public:
  Background(const std::vector<std::string>& command, const std::string& outputFile) {
    const ExecImage image(command, {});
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::dup2(out, 2);
      image.exec();
    }
  }
  ~Background() {
    if (!running()) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  // False once the program has ended (it is then reaped).
  bool running() {
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

 private:
  pid_t pid_ = -1;
};

class LookupEquivalenceTest : public CliTest {
 protected:
  std::string home() const { return file("home"); }

  // The user's lpoptions: instances and a destination of no queue.
  void writeLpoptions(const std::string& content) const {
    ::mkdir(home().c_str(), 0700);
    ::mkdir((home() + "/.cups").c_str(), 0700);
    writeFile(home() + "/.cups/lpoptions", content);
  }

  // zorvadmin's answer through the listing: the status word of the one
  // entry, which is empty for a queue CUPS knows.
  std::string listedStatus(const std::string& name) {
    writeConf(configWith(cupsRoot(), "<Printer " + name + ">\nDevicePath /dev/eq\n</Printer>\n"));
    const RunResult result = run({"-o", "x"}, {{"HOME", home()}});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const std::string rowStart = "     [0]    : " + name + " \t: ";
    const std::size_t row = result.out.find(rowStart);
    if (row == std::string::npos) {
      ADD_FAILURE() << "no row for " << name << " in:\n" << result.out;
      return "";
    }
    const std::string line = result.out.substr(row, result.out.find('\n', row) - row);
    return line.substr(line.rfind("\t: ") + 3);
  }

  // zorvadmin's answer through an add: taken, or refused as unknown.
  bool addAccepted(const std::string& name) {
    writeConf(configWith(cupsRoot()));
    const RunResult result = run({"-p", name, "-o", "/dev/eq"}, {{"HOME", home()}});
    EXPECT_EQ(result.err, "");
    if (result.status == 0) return true;
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "\n " + name + " can't find in CUPS Spooler Entry!!\n\n");
    return false;
  }

  // Every entry of one --tsv run has libcups's answer, or none when the
  // scheduler is gone.
  void expectTsvAnswers(const char* what, const std::vector<std::string>& names, bool reachable) {
    SCOPED_TRACE(what);
    std::string blocks;
    for (const std::string& name : names) blocks += "<Printer " + name + ">\nDevicePath /dev/eq\n</Printer>\n";
    writeConf(configWith(cupsRoot(), blocks));
    std::map<std::string, std::string> env{{"HOME", home()}};
    if (!reachable) env["CUPS_SERVER"] = file("gone.sock");
    const RunResult result = run({"--tsv"}, env);
    EXPECT_EQ(result.status, 0);
    std::istringstream lines(result.out);
    std::size_t entry = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("entry\t", 0) != 0) continue;
      ASSERT_LT(entry, names.size()) << result.out;
      const std::string& name = names[entry++];
      const char* expected = !reachable ? "unchecked" : referenceAnswer(name, home()) ? "ok" : "unknown-queue";
      // The name as written, and the state: the last field.
      EXPECT_EQ(line.substr(0, line.find('\t', 6)) + line.substr(line.rfind('\t')), "entry\t" + name + "\t" + expected);
    }
    EXPECT_EQ(entry, names.size());
  }

  void expectSameAnswer(const std::string& name, bool known) {
    SCOPED_TRACE("queue name " + name);
    EXPECT_EQ(listedStatus(name), known ? "" : "invalid Spool Name");
    EXPECT_EQ(addAccepted(name), known);
  }
};

TEST_F(LookupEquivalenceTest, AnswersAsCupsGetDestsForTheSchedulersOwnDestinations) {
  auto& scheduler = CupsScheduler::shared();
  scheduler.addQueue("EqPrinter", "zorv:/var/run/zorv/EqPrinter.fifo");
  scheduler.addQueue("EqStopped", "zorv:/var/run/zorv/EqStopped.fifo");
  scheduler.addQueue("EqRejecting", "zorv:/var/run/zorv/EqRejecting.fifo");
  runOrThrow({"lpadmin", "-p", "EqPrinter", "-c", "EqRoom"});
  runOrThrow({"cupsdisable", "EqStopped"});
  runOrThrow({"cupsreject", "EqRejecting"});
  writeLpoptions(
      "Dest EqPrinter/inst sides=two-sided-long-edge\n"
      "Dest EqRoom/draft print-quality=3\n"
      "Dest EqGhost sides=one-sided\n"
      "Dest EqGhost/inst sides=one-sided\n");

  struct Case {
    const char* name;
    bool cupsKnowsIt;  // what libcups answers; documents the case
  };
  const Case cases[] = {
      {"EqPrinter", true},       {"eqprinter", true},     {"EQPRINTER", true},  // names in any case
      {"EqRoom", true},          {"eqroom", true},                              // a class
      {"EqStopped", true},       {"EqRejecting", true},                         // not printing, still queues
      {"EqPrinter/inst", false}, {"EqRoom/draft", false},                       // instances are never asked for
      {"EqGhost", false},        {"EqGhost/inst", false},                       // lpoptions of no queue
      {"EqNowhere", false},      {"EqPrint", false},                            // unknown, a prefix of a queue
  };
  for (const Case& c : cases) {
    const bool known = referenceAnswer(c.name, home());
    EXPECT_EQ(known, c.cupsKnowsIt) << c.name << ": libcups itself answers otherwise";
    expectSameAnswer(c.name, known);
  }

  scheduler.removeQueue("EqRoom");
  for (const char* queue : {"EqPrinter", "EqStopped", "EqRejecting"}) scheduler.removeQueue(queue);
}

TEST_F(LookupEquivalenceTest, AnswersAsCupsGetDestsForAPrinterFoundOnlyThroughDnsSd) {
  if (runProgram({"avahi-daemon", "--check"}).status != 0) {
    GTEST_SKIP() << "DNS-SD is not running (avahi-daemon --check fails), so a printer published only through "
                    "DNS-SD cannot be tested; scripts/dnssd.sh start runs it";
  }
  // Unique per run: two suites on one machine share the one avahi-daemon.
  const std::string name = "EqDnssd" + std::to_string(::getpid());
  Background publisher({"avahi-publish", "-s", name, "_ipp._tcp", "8631", "rp=printers/" + name},
                             file("avahi-publish.out"));
  bool resolved = false;
  for (const auto deadline = Clock::now() + std::chrono::seconds(15);
       !resolved && publisher.running() && Clock::now() < deadline;) {
    const RunResult browse = runProgram({"avahi-browse", "--resolve", "--terminate", "--parsable", "_ipp._tcp"});
    std::istringstream lines(browse.out);
    for (std::string line; std::getline(lines, line) && !resolved;) {
      resolved = line.rfind("=;", 0) == 0 && line.find(";" + name + ";") != std::string::npos;
    }
    if (!resolved) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!resolved) {
    GTEST_SKIP() << "avahi-daemon runs but avahi-publish did not publish " << name
                 << ", so no printer is found only through DNS-SD: " << readFile(file("avahi-publish.out"));
  }
  writeLpoptions("Dest " + name + "/inst sides=one-sided\n");

  if (!referenceAnswer(name, home())) GTEST_SKIP() << "libcups does not see the printer published through DNS-SD";
  std::string lower = name;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (const std::string& asked : {name, lower, name + "/inst", name + "Not"}) {
    expectSameAnswer(asked, referenceAnswer(asked, home()));
  }
}

// Many names in one run are asked together: one by one below the
// switch-over to a single list of every queue, that list above it, the
// browsing list once for all names the scheduler lacks. Every entry of one
// --tsv run must still get libcups's answer, and the scheduler's spelling
// when added; a scheduler that is gone must leave every entry unchecked.
TEST_F(LookupEquivalenceTest, ManyNamesInOneRunGetTheAnswersOfCupsGetDests) {
  auto& scheduler = CupsScheduler::shared();
  scheduler.addQueue("EqBatch", "zorv:/var/run/zorv/EqBatch.fifo");
  runOrThrow({"lpadmin", "-p", "EqBatch", "-c", "EqBatchRoom"});
  writeLpoptions("Dest EqBatch/inst sides=one-sided\nDest EqBatchGhost sides=one-sided\n");
  const std::vector<std::string> named = {"EqBatch", "eqbatch", "EQBATCHROOM", "EqBatch/inst", "EqBatchGhost",
                                          "Q1", "q2", "EqNowhere"};
  std::vector<std::string> many = named;
  // Names count once in any letter case: 70 distinct ones, known ones among them.
  for (int i = 0; i < 70; ++i) many.push_back("EqBatchFill" + std::to_string(i));
  for (const char* name : {"EQBATCH", "eqBatchRoom", "Q3", "eqbatchghost"}) many.push_back(name);
  // More names than a run opens connections, fewer than the switch-over:
  // each connection carries several, queues of the large scheduler among them.
  std::vector<std::string> between = named;
  for (int i = 0; i < 12; ++i) between.push_back("EqFiller" + std::to_string(i * 5));
  for (int i = 0; i < 10; ++i) between.push_back("eqfiller" + std::to_string(i * 7 + 1) + (i % 2 == 0 ? "" : "x"));

  struct Case {
    const char* what;
    std::vector<std::string> names;
    bool reachable;
    bool large;  // more queues than the short list: names asked one by one
  };
  const Case cases[] = {
      {"fewer names than the switch-over, small scheduler", named, true, false},
      {"fewer names than the switch-over, large scheduler", named, true, true},
      {"more names than connections, large scheduler", between, true, true},
      {"more names than the switch-over", many, true, true},
      {"fewer names, scheduler gone", named, false, false},
      {"more names, scheduler gone", many, false, false},
  };
  // The filler queues are made once: small scheduler first, then large.
  for (const bool large : {false, true}) {
    if (large) scheduler.addQueues("EqFiller", 64);
    for (const Case& c : cases) {
      if (c.large == large) expectTsvAnswers(c.what, c.names, c.reachable);
    }
    // An add takes the scheduler's spelling of a printer and of a class,
    // from the short list and from Get-Printer-Attributes alike.
    for (const auto& [asked, spelled] : std::vector<std::pair<std::string, std::string>>{
             {"eqbatch", "EqBatch"}, {"EQBATCHROOM", "EqBatchRoom"}}) {
      writeConf(configWith(cupsRoot()));
      EXPECT_EQ(run({"--quiet", "-p", asked, "-o", "/dev/eq"}, {{"HOME", home()}}).status, 0);
      EXPECT_NE(readConf().find("<Printer " + spelled + ">\n"), std::string::npos) << readConf();
    }
  }
  scheduler.removeQueues("EqFiller", 64);
  scheduler.removeQueue("EqBatchRoom");
  scheduler.removeQueue("EqBatch");
}

class UnreachableSchedulerTest : public CliTest {
 protected:
  struct Timed {
    RunResult result;
    double seconds;
  };

  Timed timedRun(const std::vector<std::string>& args, const std::string& server) const {
    const auto start = Clock::now();
    // A budget of 1 second; killed well past it, so a run that hangs fails
    // the test instead of stalling the suite.
    RunResult result = runWrapped({"timeout", "-s", "KILL", "40"}, args,
                                  {{"CUPS_SERVER", server}, {"HOME", dir_.path()}, {"ZORV_SCHEDULER_TIMEOUT", "1"}});
    return {result, std::chrono::duration<double>(Clock::now() - start).count()};
  }

  // The one line, naming the server libcups used and the real cause.
  static void expectCannotReachLine(const std::string& err, const std::string& server, const std::string& cause) {
    EXPECT_EQ(err, "zorvadmin: cannot reach the CUPS scheduler at " + server + ": " + cause +
                       "; queue names were not checked\n");
  }
};

TEST_F(UnreachableSchedulerTest, SaysSoOnStandardErrorAndEndsWithinTheBound) {
  const std::string blocks =
      "<Printer Q1>\nDevicePath /dev/usb/lp1\n</Printer>\n<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n";
  // A socket file whose scheduler has gone away refuses connections.
  const std::string stale = file("stale.sock");
  {
    const int fd = boundUnixSocket(stale, SOCK_STREAM);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  const StandInSocket silent(file("silent.sock"), StandInSocket::Mode::NeverAnswer);
  const StandInSocket trickling(file("trickling.sock"), StandInSocket::Mode::Trickling);
  const StandInSocket closing(file("closing.sock"), StandInSocket::Mode::CloseAtOnce);

  // A TCP port bound and never listened on refuses connections.
  const int port = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(loopback);
  ASSERT_EQ(::bind(port, reinterpret_cast<sockaddr*>(&loopback), sizeof(loopback)), 0);
  ASSERT_EQ(::getsockname(port, reinterpret_cast<sockaddr*>(&loopback), &length), 0);
  const std::string refusing = "127.0.0.1:" + std::to_string(ntohs(loopback.sin_port));

  struct Case {
    const char* what;
    std::string server;
    std::string shown;  // the server, as the message names it
    std::string cause;
  };
  const Case cases[] = {
      {"no socket at all", file("missing.sock"), file("missing.sock"), "No such file or directory"},
      {"a socket nobody listens on", stale, stale, "Connection refused"},
      {"a TCP port nobody listens on", refusing, refusing, "Connection refused"},
      {"a scheduler that closes every connection at once", file("closing.sock"), file("closing.sock"),
       "the connection was closed"},
      {"a scheduler that accepts and never answers", file("silent.sock"), file("silent.sock"),
       "no answer within 1 seconds"},
      {"a scheduler that answers a byte every two seconds", file("trickling.sock"), file("trickling.sock"),
       "no answer within 1 seconds"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The bound is 1 second of scheduler conversation per run; 20 keeps a
    // loaded machine from failing the test.
    writeConf(configWith(cupsRoot(), blocks));
    const std::string before = readConf();
    // The add and the listing at once: each has its own budget.
    auto listed = std::async(std::launch::async, [&] { return timedRun({"--tsv"}, c.server); });
    const Timed add = timedRun({"-p", "Q1", "-o", "/dev/usb/lp9"}, c.server);
    const Timed tsv = listed.get();
    EXPECT_EQ(add.result.status, 4);
    EXPECT_EQ(add.result.out, "");  // the scheduler never said no
    expectCannotReachLine(add.result.err, c.shown, c.cause);
    EXPECT_LT(add.seconds, 20.0);
    expectFiles(before);
    EXPECT_EQ(tsv.result.status, 0);
    expectCannotReachLine(tsv.result.err, c.shown, c.cause);
    EXPECT_LT(tsv.seconds, 20.0);
    std::istringstream lines(tsv.result.out);
    int entries = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("entry\t", 0) != 0) continue;
      ++entries;
      EXPECT_EQ(line.substr(line.rfind('\t') + 1), "unchecked") << line;
    }
    EXPECT_EQ(entries, 2) << tsv.result.out;
  }
  ::close(port);
}

// An answer that came within the budget counts, however late the run gets
// to read it: here printers.conf, read while the scheduler is asked, takes
// longer to open than the whole budget.
TEST_F(UnreachableSchedulerTest, AnAnswerThatCameInTimeCountsWhenReadLate) {
  writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"));
  const RunResult result = runWrapped({"strace", "-f", "-qq", "-o", "/dev/null", "-P", cupsRoot() + "printers.conf", "-e",
                                       "inject=openat:delay_exit=1500000"},
                                      {"--tsv"}, {{"ZORV_SCHEDULER_TIMEOUT", "1"}, {"ASAN_OPTIONS", "detect_leaks=0"}});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "setting\tCUPS_ConfigPath\t" + cupsRoot() +
                            "\nsetting\tLogDirectoryPath\t\nsetting\tUI_Port\t59787\n"
                            "entry\tQ2\t/dev/usb/lp2\tparallel\t/dev/lp0\tok\n");
}

TEST_F(UnreachableSchedulerTest, ClassicListingSaysUncheckedAndWhyOnStandardError) {
  writeConf(configWith(cupsRoot(), "<Printer Q2>\nDevicePath /dev/usb/lp2\n</Printer>\n"));
  const Timed list = timedRun({"-o", "x"}, file("missing.sock"));
  EXPECT_EQ(list.result.status, 0);
  EXPECT_EQ(list.result.out,
            listing(cupsRoot(), "None", 59787, {{"Q2", "parallel", "/dev/lp0", "/dev/usb/lp2", "unchecked"}}));
  expectCannotReachLine(list.result.err, file("missing.sock"), "No such file or directory");
}

}  // namespace
}  // namespace zorv::test
