// A configuration that exists but cannot be read is never replaced by the
// default: the run ends with status 3, a message naming the file, and no
// listing.
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli_fixture.h"

namespace zorv::test {
namespace {

class FileErrorTest : public CliTest {};

TEST_F(FileErrorTest, ConfigurationIsADirectory) {
  ASSERT_EQ(::mkdir(conf().c_str(), 0755), 0);
  writeFile(conf() + "/keep", "x");
  expectFileError(run({"-o", "x"}), "zorvadmin: cannot read " + conf() + ": Is a directory\n");
  EXPECT_EQ(readFile(conf() + "/keep"), "x");
  expectFileError(run({"-x", "Q1"}), "zorvadmin: cannot read " + conf() + ": Is a directory\n");
}

TEST_F(FileErrorTest, SymbolicLinkLoop) {
  ASSERT_EQ(::symlink(conf().c_str(), conf().c_str()), 0);
  expectFileError(run({"-o", "x"}), "zorvadmin: cannot open " + conf() + ": Too many levels of symbolic links\n");
  char target[256] = {};
  EXPECT_GT(::readlink(conf().c_str(), target, sizeof target - 1), 0);
}

TEST_F(FileErrorTest, PermissionDenied) {
  writeConf(configWith(cupsRoot()));
  ::chmod(conf().c_str(), 0);
  // Root without the capabilities that bypass permission checks.
  const RunResult result = runWrapped(kWithoutDacOverride, {"-o", "x"});
  ::chmod(conf().c_str(), 0644);
  expectFileError(result, "zorvadmin: cannot open " + conf() + ": Permission denied\n", configWith(cupsRoot()));
}

// A directory root cannot write to without its override: the lock file is
// there, the new file cannot be made.
TEST_F(FileErrorTest, DefaultFileCannotBeCreated) {
  writeFile(conf() + ".lock", "");
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
  const RunResult result = runWrapped(kWithoutDacOverride, {"-o", "x"});
  ::chmod(dir_.path().c_str(), 0700);
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "errno=Permission denied\n");
  EXPECT_EQ(result.err, "zorvadmin: cannot create " + conf() + "~: Permission denied\n");
  EXPECT_FALSE(fileExists(conf()));
}

TEST_F(FileErrorTest, DirectoryThatDoesNotExist) {
  const std::string missing = file("missing/zorv.conf");
  const RunResult result = run({}, {{"ZORV_CONF", missing}});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.err, "zorvadmin: cannot open " + missing + ".lock: No such file or directory\n");
  EXPECT_FALSE(fileExists(file("missing")));
}

// Whatever stands at the new file's name belongs to someone else: the run
// makes a file of its own beside it and leaves it as it was.
TEST_F(FileErrorTest, AStaleNewFileIsLeftAloneAndLeavesNoTailInTheDefault) {
  writeFile(conf() + "~", std::string(5000, 'z'));
  EXPECT_EQ(run({"-o", "x"}).status, 0);
  EXPECT_EQ(readConf(), kDefaultConfig);
  EXPECT_EQ(readFile(conf() + "~"), std::string(5000, 'z'));
  EXPECT_EQ(newFilesLeft({"zorv.conf~"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace zorv::test
