// Randomized differential test of the L3 inject path: seeded sequences of
// input changes (membership at every depth, wildcard and IPv6 groups, tunnel
// interfaces, mappings of every key kind, replacement of objects at every
// level and of whole statuses), judged after every change against the
// reference model and a fresh instance, with restarts over stale tables and
// a teardown that must leave nothing.
//
// Replay a failure with the line it prints (MCINJECT_SEED=S MCINJECT_STEPS=N);
// MCINJECT_LONG=N runs N changes over consecutive seeds.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

#include "support/Differential.h"

namespace {

using namespace TestSupport;

constexpr char const* kFilter = "RandomizedL3.RunningPathMatchesModelAndFreshStartAfterEveryChange";

TEST(RandomizedL3, RunningPathMatchesModelAndFreshStartAfterEveryChange) {
  auto const settings = randomizedSettings({1, 2, 3, 4, 5, 6, 7, 8}, 500);
  auto driver = l3Driver();
  auto const begin = std::chrono::steady_clock::now();
  std::size_t total = 0;
  for (std::uint64_t seed : settings.seeds) {
    RunSpec const plan{.seed = seed, .changes = settings.changesPerSeed};
    RunReport const report = runChanges(*driver, plan);
    total += report.changesRun;
    if (report.failed) {
      FAIL() << describeFailure(plan, shortestFailingPrefix(*driver, plan, report), kFilter);
    }
  }
  if (settings.longMode) {
    double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::cout << "long mode: seeds " << settings.seeds.front() << ".." << settings.seeds.back() << ", " << total
              << " changes, " << seconds << " s\n";
  }
}

TEST(RandomizedL3, SameSeedReplaysTheSameChangesAndCoversEveryKind) {
  auto driver = l3Driver();
  RunSpec const plan{.seed = 42, .changes = 300};
  RunReport const first = runChanges(*driver, plan);
  RunReport const again = runChanges(*driver, plan);
  ASSERT_FALSE(first.failed) << first.what;
  EXPECT_EQ(first.log, again.log);
  EXPECT_EQ(first.changesRun, 300u);
  // The sequence reaches every kind of change the path can see.
  for (char const* kind : {"local local vlan", "no local local vlan", " intf Vxlan", " group ::", " group ff3e::",
                           "replace local local VLAN entry", "group entry by", "source entry by",
                           "replace local local by a new status", "map vlan", "no map vlan", "replace mapping by",
                           "replace the tunnel status"}) {
    bool const seen = std::any_of(first.log.begin(), first.log.end(),
                                  [&](std::string const& l) { return l.find(kind) != std::string::npos; });
    EXPECT_TRUE(seen) << "no change of the kind '" << kind << "' in 300 changes";
  }
}

// A path judged by a model that forgets IPv6 Joins: the harness must catch it
// and shrink the sequence to the first change that makes them differ.
class ModelWithoutIpv6 final : public PathDriver {
 public:
  PathKind kind() const override { return PathKind::l3; }
  void start(InputWorld& w, Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmp, std::uint64_t seed) override {
    inner_->start(w, gmp, seed);
  }
  void stop(InputWorld& w) override { inner_->stop(w); }
  JoinSet freshJoins(InputWorld const& w) override { return inner_->freshJoins(w); }
  JoinSet modelJoins(InputWorld const& w) override {
    JoinSet out;
    for (auto const& k : inner_->modelJoins(w))
      if (k.group().af() != Wirl::AddressFamily::ipv6) out.insert(k);
    return out;
  }
  std::string provenanceCheck(InputWorld const& w, JoinSet const& joins) override {
    return inner_->provenanceCheck(w, joins);
  }

 private:
  std::unique_ptr<PathDriver> inner_ = l3Driver();
};

TEST(RandomizedL3, FailureIsShrunkToTheShortestFailingPrefixWithItsReplayLine) {
  ModelWithoutIpv6 faulty;
  RunSpec const plan{.seed = 3, .changes = 400, .restartEvery = 0};
  RunReport const report = runChanges(faulty, plan);
  ASSERT_TRUE(report.failed) << "a model that drops IPv6 Joins went unnoticed";
  RunReport const shortest = shortestFailingPrefix(faulty, plan, report);
  ASSERT_TRUE(shortest.failed);
  EXPECT_LE(shortest.changesRun, report.changesRun);
  EXPECT_NE(shortest.what.find("ff3e::100"), std::string::npos) << shortest.what;
  // One change fewer passes: the prefix is the shortest.
  ASSERT_GT(shortest.changesRun, 0u);
  RunSpec shorter = plan;
  shorter.stopAfter = shortest.changesRun - 1;
  EXPECT_FALSE(runChanges(faulty, shorter).failed);
  std::string const text = describeFailure(plan, shortest, "X.Y");
  EXPECT_NE(text.find("seed 3 fails after " + std::to_string(shortest.changesRun) + " change(s)"), std::string::npos)
      << text;
  EXPECT_NE(text.find("MCINJECT_SEED=3 MCINJECT_STEPS=" + std::to_string(shortest.changesRun)), std::string::npos)
      << text;
  EXPECT_NE(text.find(shortest.log.back()), std::string::npos);
}

}  // namespace
