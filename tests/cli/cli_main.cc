#include <gtest/gtest.h>

#include "support/scheduler.h"

namespace {

// The private scheduler with the queues most tests use; Q1 is the default.
class QueuesEnvironment : public zorv::test::SchedulerEnvironment {
 public:
  void SetUp() override {
    SchedulerEnvironment::SetUp();
    auto& scheduler = zorv::test::CupsScheduler::shared();
    scheduler.addQueue("Q1", "zorv:/var/run/zorv/Q1.fifo");
    scheduler.addQueue("Q2", "parallel:/dev/lp0");
    scheduler.addQueue("Q3", "usb://Zorv/ZPR4410");
    scheduler.setDefault("Q1");
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new QueuesEnvironment);
  return RUN_ALL_TESTS();
}
