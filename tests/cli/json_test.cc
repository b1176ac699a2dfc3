// --json through the real binary: each document parsed and compared whole
// with the one expected (every member's name and value), every output a
// document python3's json.tool accepts, and refused or failed runs print
// nothing on standard output.
#include <filesystem>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

using Json = nlohmann::json;

Json entry(const std::string& queue, const std::string& device, const std::string& backend, const std::string& fifo,
           const std::string& state) {
  return {{"queue", queue}, {"device_path", device}, {"backend", backend}, {"fifo", fifo}, {"state", state}};
}

const Json kQ1 = entry("Q1", "/dev/zorv-q1", "zorv", "/var/run/zorv/Q1.fifo", "ok");
const Json kQ2 = entry("Q2", "/dev/zorv-q2", "parallel", "/dev/lp0", "ok");

std::string block(const std::string& queue, const std::string& path) {
  return "<Printer " + queue + ">\nDevicePath " + path + "\n</Printer>\n\n";
}

// A name the file may hold though no operand may: \x1c; a U+2028 in a
// device path; a byte that is no UTF-8; a control character and a backslash.
const std::string kOddBlocks = block("Q\x1cX", "/dev/zorv-\xe2\x80\xa8") + block("Q\xff", "/dev/zorv-\x01\\");
const std::vector<Json> kOddEntries = {entry("Q\\x1cX", "/dev/zorv-\xe2\x80\xa8", "", "", "unknown-queue"),
                                       entry("Q\\xff", "/dev/zorv-\\x01\\\\", "", "", "unknown-queue")};

struct Case {
  const char* name;
  std::string blocks;  // of the configuration (and then the backup, for --restore); none: no file
  std::vector<std::string> args;
  int status;
  Json document;  // null: nothing on standard output
  std::string err = "";
};

// The settings and entry records of --tsv, and what comes before them (a
// preview's diff), as the document --json should print.
Json fromTsv(const std::string& out) {
  const std::size_t records = out.find("setting\t");
  Json settings = Json::object(), entries = Json::array();
  std::istringstream lines(out.substr(records));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream cut(line);
    for (std::string field; std::getline(cut, field, '\t');) fields.push_back(field);
    if (line.back() == '\t') fields.emplace_back();
    if (fields[0] == "setting") settings[fields[1]] = fields.size() > 2 ? fields[2] : "";
    if (fields[0] == "entry") entries.push_back(entry(fields[1], fields[2], fields[3], fields[4], fields[5]));
  }
  Json document = {{"format", 1}, {"settings", settings}, {"entries", entries}};
  if (records > 0) document["diff"] = out.substr(0, records);
  return document;
}

class JsonTest : public CliTest {
 protected:
  Json listing(const std::vector<Json>& entries, const std::string& uiPort = "59787") const {
    return {{"format", 1},
            {"settings", {{"CUPS_ConfigPath", cupsRoot()}, {"LogDirectoryPath", ""}, {"UI_Port", uiPort}}},
            {"entries", entries}};
  }

  // The output is one document by python3's own parser too.
  void expectWellFormed(const std::string& out) const {
    writeFile(file("out.json"), out);
    const RunResult tool = runProgram({"python3", "-m", "json.tool", file("out.json")});
    EXPECT_EQ(tool.status, 0) << tool.err;
  }

  void expectDocument(const RunResult& result, const Json& document) const {
    if (document.is_null()) {
      EXPECT_EQ(result.out, "");
      return;
    }
    expectWellFormed(result.out);
    EXPECT_EQ(Json::parse(result.out, nullptr, false), document) << result.out;
  }

  void setUp(const std::string& blocks, bool restore) const {
    std::filesystem::remove(conf());
    std::filesystem::remove(conf() + ".bak");
    if (blocks.empty()) return;
    writeConf(configWith(cupsRoot(), blocks));
    if (!restore) return;
    writeFile(conf() + ".bak", readConf());
    writeConf(configWith(cupsRoot()));
  }
};

TEST_F(JsonTest, EachRunPrintsOneDocument) {
  const std::string one = block("Q1", "/dev/zorv-q1");
  const std::string c = conf();
  const std::string checked = block("Q\x1cX", "/dev/zorv-none\xff\nBogus");
  const auto finding = [&](int line, const char* severity, const std::string& message) {
    return Json{{"file", c}, {"line", line}, {"severity", severity}, {"message", message}};
  };
  const std::vector<Case> cases = {
      {"the listing", one + kOddBlocks, {"--json"}, 0, listing({kQ1, kOddEntries[0], kOddEntries[1]})},
      {"an add", one, {"--json", "-p", "Q2", "-o", "/dev/zorv-q2"}, 0, listing({kQ1, kQ2})},
      {"a removal", one + block("Q2", "/dev/zorv-q2"), {"--json", "-x", "Q1"}, 0, listing({kQ2})},
      {"a setting", one, {"--json", "--set", "UI_Port", "631"}, 0, listing({kQ1}, "631")},
      {"a restore", one, {"--restore", "--json"}, 0, listing({kQ1})},
      {"a quiet change", one, {"--json", "--quiet", "-x", "Q1"}, 0, nullptr},
      {"findings", checked, {"--check", "--json"}, 2,
       {{"format", 1}, {"file", c}, {"status", 2}, {"findings", {
           finding(27, "warning", "the CUPS scheduler knows no queue Q\\x1cX"),
           finding(28, "warning", "the device path /dev/zorv-none\\xff of Q\\x1cX does not exist"),
           finding(29, "error", "unknown line in a printer block; a rewrite drops it")}}}},
      {"no finding", block("Q1", "/dev/null"), {"--check", "--strict", "--json"}, 0,
       {{"format", 1}, {"file", c}, {"status", 0}, {"findings", Json::array()}}},
      {"both formats", one, {"--json", "--tsv"}, 2, nullptr,
       "zorvadmin: --json and --tsv cannot go together\n" + kRefusedUsage},
      {"a queue CUPS does not know", one, {"--json", "-p", "Nowhere", "-o", "/dev/zorv-q2"}, 2, nullptr,
       "\n Nowhere can't find in CUPS Spooler Entry!!\n\n"},
      {"a setting out of range", one, {"--json", "--set", "UI_Port", "0"}, 2, nullptr,
       "zorvadmin: the value of UI_Port must be a number from 1 to 65535\n"},
      {"no file", "", {"--json"}, 3, nullptr, "zorvadmin: cannot open " + c + ": No such file or directory\n"},
      {"no file to check", "", {"--check", "--json"}, 3, nullptr,
       "zorvadmin: cannot open " + c + ": No such file or directory\n"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    setUp(row.blocks, row.args.front() == "--restore");
    const RunResult result = run(row.args);
    EXPECT_EQ(result.status, row.status);
    expectDocument(result, row.document);
    EXPECT_EQ(result.err, row.err);
  }
}

// Beside --tsv: the same fields, the same text (U+2028 and \x1c included),
// and a preview's diff as the one string "diff"; nothing changes on disk.
TEST_F(JsonTest, TheDocumentHoldsWhatTsvPrints) {
  // The listing's \x7f is escaped as --tsv escapes it; in a diff it would
  // be escaped as no --tsv diff is (AQuietPreviewIsTheDiffAlone), so it
  // stays out of the diffs' context.
  const std::string two = block("Q3", "/dev/zorv-\x7f") + block("Q\x1cX", "/dev/zorv-\xe2\x80\xa8") +
                          block("Q1", "/dev/zorv-q1");
  const std::vector<std::vector<std::string>> runs = {
      {},
      {"-p", "Q2", "-o", "/dev/zorv-q2"},
      {"--dry-run", "-p", "Q2", "-o", "/dev/zorv-q2"},
      {"--dry-run", "-x", "Q1"},
      {"--dry-run", "--set", "LogDirectoryPath", "/var/log/zorv\xe2\x80\xa8/"},
      {"--restore"},
      {"--batch", file("batch")},
      {"--dry-run", "--batch", file("batch")},
  };
  // A modified entry, an add after the entries and a setting as one change.
  writeFile(file("batch"), "add Q1 /dev/null\nadd Q2 /dev/zorv-q2\nset UI_Port 631\n");
  for (const std::vector<std::string>& args : runs) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const bool restore = !args.empty() && args.front() == "--restore";
    std::vector<std::string> json = {"--json"}, tsv = {"--tsv"};
    json.insert(restore ? json.begin() : json.end(), args.begin(), args.end());
    tsv.insert(restore ? tsv.begin() : tsv.end(), args.begin(), args.end());
    setUp(two, restore);
    const RunResult records = run(tsv);
    setUp(two, restore);
    const std::string before = readConf();
    const RunResult document = run(json);
    EXPECT_EQ(document.status, 0);
    EXPECT_EQ(records.status, 0);
    expectDocument(document, fromTsv(records.out));
    if (args.size() > 1 && args.front() == "--dry-run") {
      EXPECT_EQ(readConf(), before);
      EXPECT_NE(records.out.find("\n@@ "), std::string::npos);
    }
  }
}

// A quiet preview: the diff alone, as one document, its lines and tabs as
// they are, a control character and a byte that is no UTF-8 as \xNN.
TEST_F(JsonTest, AQuietPreviewIsTheDiffAlone) {
  setUp(block("Q1", "/dev/zorv-q1") + block("Q\xff", "/dev/zorv-\x7f\t\\"), false);
  const std::string c = conf();
  const RunResult result = run({"--json", "--dry-run", "--quiet", "-x", "Q\xff"});
  EXPECT_EQ(result.status, 0);
  expectDocument(result, {{"format", 1},
                          {"diff", "--- " + c + "\n+++ " + c + " (new)\n@@ -28,10 +28,6 @@\n DevicePath /dev/zorv-q1\n"
                                   " </Printer>\n \n-<Printer Q\\xff>\n-DevicePath /dev/zorv-\\x7f\t\\\n"
                                   "-</Printer>\n-\n <Ports>\n # Status Monitor API socket port\n"
                                   " #  Default PORT  59787\n"}});
}

// --batch - and --json: the document of the whole change, a quiet preview
// of no change an empty diff; a refused batch prints no document.
TEST_F(JsonTest, ABatchFromStandardInputPrintsOneDocument) {
  const std::string c = conf();
  const struct {
    const char* name;
    std::string batch;
    std::vector<std::string> args;
    int status;
    Json document;
    std::string err;
  } cases[] = {
      {"a change", "add Q2 /dev/zorv-q2\nremove Q1\n", {"--json", "--batch", "-"}, 0, listing({kQ2}),
       ""},
      {"a quiet preview of nothing", "remove Q9\n", {"--json", "--dry-run", "--quiet", "--batch", "-"}, 0,
       {{"format", 1}, {"diff", ""}},
       "zorvadmin: (standard input):1: Q9 has no entry in " + c + "; nothing to remove\n"},
      {"a quiet preview", "set UI_Port 631\n", {"--json", "--dry-run", "--quiet", "--batch", "-"}, 0,
       {{"format", 1}, {"diff", "--- " + c + "\n+++ " + c + " (new)\n@@ -31,5 +31,5 @@\n <Ports>\n"
                                " # Status Monitor API socket port\n #  Default PORT  59787\n"
                                "-UI_Port  59787\n+UI_Port 631\n </Ports>\n"}},
       ""},
      {"a refused line", "remove Q1\nadd Nowhere /dev/null\n", {"--json", "--batch", "-"}, 2, nullptr,
       "zorvadmin: (standard input):2: the CUPS scheduler knows no queue Nowhere; nothing changed\n"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    setUp(block("Q1", "/dev/zorv-q1"), false);
    writeFile(file("batch"), row.batch);
    const RunResult result = runWrapped({"sh", "-c", "exec \"$@\" <" + file("batch"), "sh"}, row.args);
    EXPECT_EQ(result.status, row.status);
    expectDocument(result, row.document);
    EXPECT_EQ(result.err, row.err);
  }
}

// A preview that cannot be captured is a failed run: a message, no
// document, the file as it was.
TEST_F(JsonTest, ACaptureThatFailsPrintsNothing) {
  const struct {
    std::vector<std::string> inject;
    std::string err;
  } cases[] = {
      {{"-e", "trace=memfd_create", "-e", "inject=memfd_create:error=EMFILE:when=2"},
       "zorvadmin: cannot prepare the preview: Too many open files\n"},
      // The first lseek takes the rewrite back to the start of the file the read left open.
      {{"-e", "trace=lseek", "-e", "inject=lseek:error=EIO:when=2+"},
       "zorvadmin: cannot show the change: Input/output error\n"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.err);
    setUp(block("Q1", "/dev/zorv-q1"), false);
    const std::string before = readConf();
    // diff itself, a child, is not traced.
    std::vector<std::string> strace = {"strace", "-qq", "-o", "/dev/null"};
    strace.insert(strace.end(), row.inject.begin(), row.inject.end());
    const RunResult result = runWrapped(strace, {"--json", "--dry-run", "-x", "Q1"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(readConf(), before);
  }
}

}  // namespace
}  // namespace zorv::test
