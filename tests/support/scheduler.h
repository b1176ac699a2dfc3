// A private CUPS scheduler for the tests: cupsd in the foreground with all
// its files in a temporary directory, reached through its own socket.
#pragma once

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "support/process.h"

namespace zorv::test {

class CupsScheduler {
 public:
  // The scheduler of this test program, started by SchedulerEnvironment.
  static CupsScheduler& shared();

  void start();
  void stop();

  const std::string& serverRoot() const { return dir_.path(); }
  std::string socketPath() const { return dir_.file("cups.sock"); }
  // CUPS_SERVER for a run against this scheduler.
  std::map<std::string, std::string> clientEnv() const;

  void addQueue(const std::string& name, const std::string& uri);
  void removeQueue(const std::string& name);
  void setDefault(const std::string& name);
  // count more queues named prefix0, prefix1 ..., so the scheduler is
  // larger than the lookup's short list; and away again.
  void addQueues(const std::string& prefix, int count);
  void removeQueues(const std::string& prefix, int count);
  // Lines of the access log that name this IPP operation.
  int accessLogCount(const std::string& operation) const;

 private:
  void writeConfiguration() const;
  void lpadmin(const std::vector<std::string>& args);

  TempDir dir_;
  int pid_ = -1;
};

class SchedulerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { CupsScheduler::shared().start(); }
  void TearDown() override { CupsScheduler::shared().stop(); }
};

}  // namespace zorv::test
