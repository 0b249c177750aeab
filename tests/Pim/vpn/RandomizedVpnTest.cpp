// Randomized differential test of the VPN inject path: seeded sequences of
// input changes (local and peer statuses coming and going, membership at
// every depth with wildcard and IPv6 groups and tunnel interfaces, mappings
// of every key kind, SBD assignments of any VLAN, replacement of objects at
// every level, of whole statuses and of SBD VLAN states), with walks that
// yield after 1..3 items and changes arriving mid-walk. Once idle after a
// change, the Joins must equal the reference model's and a fresh instance's;
// after teardown none may be left.
//
// Replay a failure with the line it prints (MCINJECT_SEED=S MCINJECT_STEPS=N);
// MCINJECT_LONG=N runs N changes over consecutive seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>

#include "support/Differential.h"

namespace {

using namespace TestSupport;

void runSeeds(PathDriver& driver, RandomizedSettings const& settings, char const* filter) {
  auto const begin = std::chrono::steady_clock::now();
  std::size_t total = 0;
  for (std::uint64_t seed : settings.seeds) {
    RunSpec const plan{.seed = seed, .changes = settings.changesPerSeed, .restartEvery = 0};
    RunReport const report = runChanges(driver, plan);
    total += report.changesRun;
    if (report.failed) {
      FAIL() << describeFailure(plan, shortestFailingPrefix(driver, plan, report), filter);
    }
  }
  if (settings.longMode) {
    double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::cout << "long mode: seeds " << settings.seeds.front() << ".." << settings.seeds.back() << ", " << total
              << " changes, " << seconds << " s\n";
  }
}

TEST(RandomizedVpn, RunningPathMatchesModelAndFreshStartAfterEveryChange) {
  auto driver = vpnDriver(true);
  runSeeds(*driver, randomizedSettings({1, 2, 3, 4, 5, 6, 7, 8}, 400),
           "RandomizedVpn.RunningPathMatchesModelAndFreshStartAfterEveryChange");
}

// Without an IRB status no VLAN has an SBD VLAN, whatever the IRB table says.
TEST(RandomizedVpn, PathWithoutIrbStatusMatchesModelWithoutSbdVlans) {
  auto driver = vpnDriver(false);
  runSeeds(*driver, randomizedSettings({11, 12, 13}, 300),
           "RandomizedVpn.PathWithoutIrbStatusMatchesModelWithoutSbdVlans");
}

TEST(RandomizedVpn, SameSeedReplaysTheSameChangesAndCoversEveryKind) {
  auto driver = vpnDriver(true);
  RunSpec const plan{.seed = 42, .changes = 400, .restartEvery = 0};
  RunReport const first = runChanges(*driver, plan);
  RunReport const again = runChanges(*driver, plan);
  ASSERT_FALSE(first.failed) << first.what;
  EXPECT_EQ(first.log, again.log);
  for (char const* kind : {"local local vlan", "peer peer1 vlan", " intf Vxlan", " intf Ethernet", " group 0.0.0.0",
                           "no peer", "replace peer", "VLAN entry by", "group entry by", "source entry by",
                           "to the collection", "from the collection", "map vlan", "replace mapping by", "sbd vlan",
                           "no sbd vlan", "replace SBD VLAN state"}) {
    bool const seen = std::any_of(first.log.begin(), first.log.end(),
                                  [&](std::string const& l) { return l.find(kind) != std::string::npos; });
    EXPECT_TRUE(seen) << "no change of the kind '" << kind << "' in 400 changes";
  }
}

}  // namespace
