// The randomized differential runs of both inject paths with
// "PimL3TunnelInject" off: Joins are (S,G) toward each route's underlay
// source, so routes of one underlay group no longer share a Join. This
// executable runs with a toggle directory that switches the toggle off.
#include <gtest/gtest.h>

#include "Pim/join/JoinKey.h"
#include "support/Differential.h"

namespace {

using namespace TestSupport;

class RandomizedToggleOff : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Irb::Multicast::Egress::togglePimL3TunnelInjectEnabled())
        << "this executable must run with the toggle directory that switches PimL3TunnelInject off";
    ASSERT_FALSE(modelStarG());
  }

  void run(PathDriver& driver, std::uint64_t seed, std::size_t restartEvery) {
    RunSpec const plan{.seed = seed, .changes = 400, .restartEvery = restartEvery};
    RunReport const report = runChanges(driver, plan);
    if (report.failed) {
      std::string const filter =
          std::string("RandomizedToggleOff.") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
      FAIL() << describeFailure(plan, shortestFailingPrefix(driver, plan, report), filter,
                                "MCINJECT_TOGGLE_DIR=tests/toggles/off toggle_off_tests");
    }
  }
};

TEST_F(RandomizedToggleOff, L3PathWritesTheModelsSourceGroupJoins) {
  auto driver = l3Driver();
  for (std::uint64_t seed : {101, 102, 103}) run(*driver, seed, 40);
}

TEST_F(RandomizedToggleOff, VpnPathWritesTheModelsSourceGroupJoins) {
  auto driver = vpnDriver(true);
  for (std::uint64_t seed : {201, 202, 203}) run(*driver, seed, 0);
}

}  // namespace
