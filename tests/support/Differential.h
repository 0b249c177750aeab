// Differential — runs a sequence of input changes (InputChanges.h) on a
// running inject path and judges it after every change, once idle:
//   (a) its Joins equal the reference model's (ReferenceModel.h);
//   (b) its Joins equal those a fresh instance of the same path, built on the
//       same inputs, writes into a fresh table (restart equivalence);
//   (c) every Join has at least one reason (joinProvenance), and every
//       reason is true in the reference model;
// and after teardown the table holds no Join of the path, also once more
// changes arrive. An L3 run also restarts, every few changes, a second
// instance over a copy of the running table plus stale entries, which must
// remove exactly the stale ones and never delete a wanted Join.
//
// A failed run is shrunk by re-running ever shorter prefixes of the same
// sequence (each ending in a judgement); describeFailure prints the seed, the
// shortest failing prefix and the command line that replays it.
//
// Drivers: the L3 path; the VPN path with or without an IRB status (its
// walks yield after a random number of items, 1..3, drawn from the seed).
// Not thread-safe.
//
//   auto driver = TestSupport::l3Driver();
//   auto report = TestSupport::runChanges(*driver, {.seed = 7, .changes = 500});
//   if (report.failed) FAIL() << TestSupport::describeFailure(...);
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Brim/Status.h"
#include "support/InputChanges.h"
#include "support/ReferenceModel.h"

namespace TestSupport {

// One inject path as the harness drives it.
class PathDriver {
 public:
  virtual ~PathDriver() = default;
  virtual PathKind kind() const = 0;
  // Before the start: entries a previous run may have left in the table.
  virtual void leftoversIs(Routing::Gmp::Brim::Status& /*gmp*/, ChoiceSource& /*c*/) {}
  // Starts the path on the world's inputs, writing into `gmp`, and points the
  // world's hooks at it.
  virtual void start(InputWorld& world, Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmp, std::uint64_t seed) = 0;
  // Drops the path and clears the world's hooks.
  virtual void stop(InputWorld& world) = 0;
  // Runs deferred work until idle / at most `slices` slices of it.
  virtual void settle() {}
  virtual void runSome(unsigned /*slices*/) {}
  // The Joins of a fresh instance on the world's present inputs, over an
  // empty table.
  virtual JoinSet freshJoins(InputWorld const& world) = 0;
  virtual JoinSet modelJoins(InputWorld const& world) = 0;
  // Every Join in `joins` must be held with at least one reason, each true
  // in the model: what is wrong, or "".
  virtual std::string provenanceCheck(InputWorld const& world, JoinSet const& joins) = 0;
  // A restart over a copy of `gmp` with stale entries added: what went
  // wrong, or "" (paths without start-up cleanup: always "").
  virtual std::string restartCheck(InputWorld const& /*world*/, Routing::Gmp::Brim::Status const& /*gmp*/,
                                   ChoiceSource& /*c*/) {
    return {};
  }
};

std::unique_ptr<PathDriver> l3Driver();
std::unique_ptr<PathDriver> vpnDriver(bool withIrbStatus = true);

struct RunSpec {
  std::uint64_t seed = 1;
  std::size_t changes = 100;       // after the start
  std::size_t warmup = 12;         // changes before the start
  unsigned checkPercent = 75;      // chance to settle and judge after a change
  std::size_t restartEvery = 40;   // restart checks (0: none)
  std::size_t stopAfter = SIZE_MAX;  // prefix replay: judge and stop after this many changes
};

struct RunReport {
  bool failed = false;
  std::size_t changesRun = 0;   // changes applied after the start
  std::string what;             // the judgement that failed
  std::vector<std::string> log; // every change in order, warm-up included
};

// Runs `plan` with choices drawn from a PRNG seeded with plan.seed.
RunReport runChanges(PathDriver& driver, RunSpec const& plan);
// Runs with the given choices (a fuzz input); stops early when a ByteChoices
// source runs dry.
RunReport runChanges(PathDriver& driver, RunSpec const& plan, ChoiceSource& choices);

// The shortest prefix of the failed seeded run `failed` that still fails.
RunReport shortestFailingPrefix(PathDriver& driver, RunSpec const& plan, RunReport const& failed);

// Seed, prefix length, changes and the replay command line (`program` run
// with the gtest filter of the test that ran it).
std::string describeFailure(RunSpec const& plan, RunReport const& shortest, std::string const& testFilter,
                            std::string const& program = "unit_tests");

// What the environment asks of a randomized test:
//   MCINJECT_SEED=S   run seed S only (with MCINJECT_LONG: the first seed)
//   MCINJECT_STEPS=N  N changes per seed
//   MCINJECT_LONG=N   long mode: N changes in all, over consecutive seeds
struct RandomizedSettings {
  std::vector<std::uint64_t> seeds;
  std::size_t changesPerSeed = 0;
  bool longMode = false;
};
RandomizedSettings randomizedSettings(std::vector<std::uint64_t> const& defaultSeeds, std::size_t defaultChanges);

// Entries of a table in order, for messages: "(0.0.0.0, 225.1.1.1, Vlan10)".
std::string describeJoins(JoinSet const& joins);

}  // namespace TestSupport
