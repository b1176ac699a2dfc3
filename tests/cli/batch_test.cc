// --batch through the real binary: each batch either lands as one change,
// byte for byte what the same -p, -x and --set runs make one after another
// (made in a second directory), or refused with its line and nothing changed.
#include <sys/stat.h>

#include <filesystem>

#include "cli/cli_fixture.h"
#include "support/syslog_capture.h"

namespace zorv::test {
namespace {

class BatchTest : public CliTest {};

using Args = std::vector<std::string>;

std::string block(const std::string& queue, const std::string& path, const std::string& extra = "") {
  return "<Printer " + queue + ">\n" + extra + "DevicePath " + path + "\n</Printer>\n\n";
}

ino_t inodeOf(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_ino;
}

TEST_F(BatchTest, LandsAsTheSingleCommandsWouldOrNotAtAll) {
  // Lines -p drops and --set keeps: text outside sections, an unknown line in a block.
  const std::string base = configWith(cupsRoot(), block("Q2", "/dev/usb/lp1", "Comment kept by --set\n") +
                                                      block("Q3", "/dev/usb/lp2")) + "stray text\n";
  std::string fifteen;
  for (int i = 0; i < 15; ++i) fifteen += block("E" + std::to_string(i), "/dev/null");
  const std::string full = configWith(cupsRoot(), fifteen);
  const std::map<std::string, std::string> noScheduler = {{"CUPS_SERVER", file("no-cupsd.sock")}};
  struct Case {
    const char* what;
    std::string before, batch;
    std::vector<Args> singles;  // what the batch equals; none when refused
    int status;
    std::string err;            // "@" for the batch file's name
    std::map<std::string, std::string> env = {};
  };
  const std::vector<Case> cases = {
      {"all accepted", base, "add q1 /dev/null\nremove Q2\n  set UI_Port 59788\nadd Q3\t/dev/zero\n",
       {{"-p", "q1", "-o", "/dev/null"}, {"-x", "Q2"}, {"--set", "UI_Port", "59788"}, {"-p", "Q3", "-o", "/dev/zero"}},
       0, ""},
      {"settings first, then entries", base, "set LogDirectoryPath /var/log/a b\nadd Q2 /dev/null\n",
       {{"--set", "LogDirectoryPath", "/var/log/a b"}, {"-p", "Q2", "-o", "/dev/null"}}, 0, ""},
      {"CR LF, comments and blank lines", base, "# moves\r\n\r\nadd Q1 /dev/null\r\nremove Q3\r\n",
       {{"-p", "Q1", "-o", "/dev/null"}, {"-x", "Q3"}}, 0, ""},
      {"a remove of a queue without an entry", base, "remove Q1\nadd Q2 /dev/null\n",
       {{"-x", "Q1"}, {"-p", "Q2", "-o", "/dev/null"}}, 0, "zorvadmin: @:1: Q1 has no entry in CONF; nothing to remove\n"},
      {"the last entry the table holds", full, "add Q1 /dev/null\n", {{"-p", "Q1", "-o", "/dev/null"}}, 0, ""},
      {"one past the table", full, "add Q1 /dev/null\nadd Q2 /dev/null\n", {}, 2,
       "zorvadmin: cannot add Q2: the table holds 16 entries\nzorvadmin: @:2: this change cannot be made; nothing changed\n"},
      {"refused at the end", base, "add Q1 /dev/null\nremove Q2\nadd Q3 dev/lp0\n", {}, 2,
       "zorvadmin: @:3: the device path dev/lp0 must be absolute; nothing changed\n"},
      {"refused in the middle", base, "add Q1 /dev/null\nrename Q2 Q4\nremove Q3\n", {}, 2,
       "zorvadmin: @:2: a change begins with add, remove or set; nothing changed\n"},
      {"a device path that is a file", base, "add Q1 " + file("plain") + "\n", {}, 2,
       "zorvadmin: @:1: the device path " + file("plain") + " is not a character device; nothing changed\n"},
      {"a value out of range", base, "set UI_Port 70000\n", {}, 2,
       "zorvadmin: @:1: the value of UI_Port must be a number from 1 to 65535; nothing changed\n"},
      {"an unknown queue", base, "remove Q2\nadd Nope /dev/null\n", {}, 2,
       "zorvadmin: @:2: the CUPS scheduler knows no queue Nope; nothing changed\n"},
      {"contradicting lines for one queue", base, "add Q1 /dev/null\n\nremove q1\n", {}, 2,
       "zorvadmin: @:3: the queue q1 is changed on line 1 already; nothing changed\n"},
      {"one setting twice", base, "set UI_Port 1\nset UI_Port 2\n", {}, 2,
       "zorvadmin: @:2: UI_Port is changed on line 1 already; nothing changed\n"},
      {"a remove with more", base, "remove Q2 /dev/null\n", {}, 2,
       "zorvadmin: @:1: remove takes one queue name and nothing more; nothing changed\n"},
      {"an empty batch", base, "", {}, 0, ""},
      {"only comments", base, "# nothing yet\n\n", {}, 0, ""},
      {"what the file has already", base, "add Q3 /dev/usb/lp2\nset UI_Port 59787\n", {}, 0, ""},
  };
  writeFile(file("plain"), "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(conf() + ".bak");
    writeConf(c.before);
    writeFile(file("batch"), c.batch);
    const ino_t inode = inodeOf(conf());
    const RunResult result = run({"--quiet", "--batch", file("batch")}, c.env);
    EXPECT_EQ(result.status, c.status);
    std::string err = c.err;
    for (std::size_t at; (at = err.find('@')) != std::string::npos;) err.replace(at, 1, file("batch"));
    for (std::size_t at; (at = err.find("CONF")) != std::string::npos;) err.replace(at, 4, conf());
    EXPECT_EQ(result.err, err);
    if (c.singles.empty()) {
      EXPECT_EQ(readConf(), c.before);
      EXPECT_EQ(inodeOf(conf()), inode);
      EXPECT_FALSE(fileExists(conf() + ".bak"));
      continue;
    }
    TempDir one;
    writeFile(one.file("zorv.conf"), c.before);
    for (const Args& args : c.singles) {
      Args quiet{"--quiet"};
      quiet.insert(quiet.end(), args.begin(), args.end());
      EXPECT_EQ(run(quiet, {{"ZORV_CONF", one.file("zorv.conf")}}).status, 0);
    }
    EXPECT_EQ(readConf(), readFile(one.file("zorv.conf")));
    EXPECT_EQ(readFile(conf() + ".bak"), c.before);  // one backup: the file before the whole batch
  }
}

TEST_F(BatchTest, SchedulerUnreachableChangesNothing) {
  const std::string before = configWith(cupsRoot(), block("Q2", "/dev/usb/lp1"));
  writeConf(before);
  writeFile(file("batch"), "remove Q2\nadd Q1 /dev/null\n");
  const RunResult result = run({"--batch", file("batch")}, {{"CUPS_SERVER", file("no-cupsd.sock")}});
  EXPECT_EQ(result.status, 4);
  EXPECT_NE(result.err.find("zorvadmin: " + file("batch") + ":2: cannot ask the scheduler about Q1; nothing changed\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(readConf(), before);
  EXPECT_FALSE(fileExists(conf() + ".bak"));
}

TEST_F(BatchTest, DryRunShowsOneDiffAndStandardInputIsRead) {
  const std::string before = configWith(cupsRoot(), block("Q2", "/dev/usb/lp1"));
  writeConf(before);
  writeFile(file("batch"), "add Q1 /dev/null\r\nremove Q2\r\n");
  const RunResult preview = runWrapped({"sh", "-c", "exec \"$@\" <" + file("batch"), "sh"}, {"--dry-run", "--batch", "-"});
  EXPECT_EQ(preview.status, 0) << preview.err;
  EXPECT_EQ(preview.out.find("--- " + conf() + "\n"), 0u) << preview.out;
  EXPECT_EQ(preview.out.find("--- ", 1), std::string::npos);
  EXPECT_NE(preview.out.find("\n-<Printer Q2>\n-DevicePath /dev/usb/lp1\n+<Printer Q1>\n+DevicePath /dev/null\n "
                             "</Printer>\n"),
            std::string::npos)
      << preview.out;
  EXPECT_NE(preview.out.find(": /dev/usb/lp1 \t: Delete\n"), std::string::npos);
  EXPECT_EQ(readConf(), before);
  const RunResult tsv = run({"--tsv", "--batch", file("batch")});
  EXPECT_EQ(tsv.status, 0) << tsv.err;
  EXPECT_NE(tsv.out.find("\nentry\tQ1\t/dev/null\t"), std::string::npos) << tsv.out;
  EXPECT_EQ(tsv.out.find("Q2\t"), std::string::npos) << tsv.out;
  EXPECT_EQ(readFile(conf() + ".bak"), before);
  const RunResult refused = run({"--batch", file("batch"), "-x", "Q1"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err, "zorvadmin: --batch goes only with --dry-run, --quiet and --tsv\n" + kUsage);
  for (const Args& args : {Args{"--dry-run", "--batch", file("batch")}, Args{"--dry-run", "--stable-names"}}) {
    const RunResult nobody = runWrapped(kAsNobody, args);
    EXPECT_EQ(nobody.status, 1);
    EXPECT_EQ(nobody.err, "This Command must be run as root\n");
  }
  const RunResult noFile = run({"--batch"});
  EXPECT_EQ(noFile.err, "zorvadmin: --batch needs a file\n" + kUsage);
  const RunResult missing = run({"--batch", file("none")});
  EXPECT_EQ(missing.status, 3);
  EXPECT_EQ(missing.err, "zorvadmin: cannot open " + file("none") + ": No such file or directory\n");
}

// A batch that cannot be read, or whose steps cannot be held in memory,
// changes nothing and says why.
TEST_F(BatchTest, FailuresChangeNothing) {
  const std::string before = configWith(cupsRoot(), block("Q2", "/dev/usb/lp1"));
  writeFile(file("batch"), "add Q1 /dev/null\nremove Q2\n");
  const std::vector<std::string> strace = {"strace", "-f", "-qq", "-o", "/dev/null"};
  struct Case {
    std::vector<std::string> inject;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"-P", file("batch"), "-e", "trace=read", "-e", "inject=read:error=EIO"},
       "zorvadmin: cannot read " + file("batch") + ": Input/output error\n"},
      {{"-e", "inject=memfd_create:error=EMFILE"},
       "zorvadmin: cannot rewrite " + conf() + ": Too many open files\nzorvadmin: " + file("batch") +
           ":1: this change cannot be made; nothing changed\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    writeConf(before);
    std::vector<std::string> wrapper = strace;
    wrapper.insert(wrapper.end(), c.inject.begin(), c.inject.end());
    const RunResult result = runWrapped(wrapper, {"--batch", file("batch")});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(readConf(), before);
    EXPECT_FALSE(fileExists(conf() + ".bak"));
  }
}

// The lines of a batch are the lines its single commands log, one per
// change that changes something; a refused batch logs one refusal.
TEST_F(BatchTest, LogsWhatTheSingleCommandsLog) {
  const std::string before = configWith(cupsRoot(), block("Q2", "/dev/usb/lp1") + block("Q3", "/dev/null"));
  const auto texts = [](const SyslogRun& logged, const std::string& config) {
    std::vector<std::string> out;
    for (const std::string& raw : logged.messages) {
      std::string text = parseSyslogMessage(raw).value_or(SyslogMessage{}).text;
      for (std::size_t at; (at = text.find(config)) != std::string::npos;) text.replace(at, config.size(), "CONF");
      out.push_back(text);
    }
    return out;
  };
  const std::vector<Args> singles = {{"-p", "Q1", "-o", "/dev/null"}, {"-x", "Q2"}, {"-p", "Q3", "-o", "/dev/null"},
                                     {"--set", "UI_Port", "59788"}};
  TempDir one;
  writeFile(one.file("zorv.conf"), before);
  std::vector<std::string> expected;
  try {
    for (const Args& args : singles) {
      Args command{zorvadminPath(), "--quiet"};
      command.insert(command.end(), args.begin(), args.end());
      for (const std::string& text : texts(runCapturingSyslog(command, runEnv({{"ZORV_CONF", one.file("zorv.conf")}})),
                                           one.file("zorv.conf"))) {
        expected.push_back(text);
      }
    }
    writeConf(before);
    writeFile(file("batch"), "add Q1 /dev/null\nremove Q2\nadd Q3 /dev/null\nset UI_Port 59788\n");
    const SyslogRun batch = runCapturingSyslog({zorvadminPath(), "--quiet", "--batch", file("batch")}, runEnv({}));
    EXPECT_EQ(batch.result.status, 0) << batch.result.err;
    EXPECT_EQ(expected.size(), 3u);
    EXPECT_EQ(texts(batch, conf()), expected);
    writeFile(file("batch"), "remove Q1\nadd Q4 /dev/null\n");
    const SyslogRun refused = runCapturingSyslog({zorvadminPath(), "--batch", file("batch")}, runEnv({}));
    EXPECT_EQ(refused.result.status, 2);
    EXPECT_EQ(texts(refused, conf()),
              std::vector<std::string>{"root (uid 0) could not make the changes of " + file("batch") +
                                       " in CONF: " + file("batch") + ":2: the CUPS scheduler knows no queue Q4; nothing changed"});
  } catch (const std::runtime_error& error) {
    GTEST_SKIP() << error.what();
  }
}

}  // namespace
}  // namespace zorv::test
