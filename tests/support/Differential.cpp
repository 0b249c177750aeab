#include "support/Differential.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "Keel/TaskScheduler.h"
#include "Pim/l3/L3InjectSm.h"
#include "Pim/vpn/VpnInjectSm.h"
#include "Vorn/Notifiee.h"
#include "support/Inputs.h"

namespace TestSupport {

using Routing::Gmp::Brim::Membership;
using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Gmp::Brim::Status;

std::string describeJoins(JoinSet const& joins) {
  std::ostringstream os;
  bool first = true;
  for (auto const& k : joins) {
    os << (first ? "" : " ") << k;
    first = false;
  }
  return first ? "none" : os.str();
}

namespace {

std::string reasonText(Irb::Multicast::Egress::JoinReason const& r) {
  std::ostringstream os;
  os << r.mapping << " route " << r.route;
  return os.str();
}


// "running only: ..., model only: ..." for two differing sets.
std::string difference(JoinSet const& running, JoinSet const& other, char const* otherName) {
  JoinSet onlyRunning;
  JoinSet onlyOther;
  std::set_difference(running.begin(), running.end(), other.begin(), other.end(),
                      std::inserter(onlyRunning, onlyRunning.end()));
  std::set_difference(other.begin(), other.end(), running.begin(), running.end(),
                      std::inserter(onlyOther, onlyOther.end()));
  std::ostringstream os;
  os << "the running path differs from " << otherName << ": running only " << describeJoins(onlyRunning) << "; "
     << otherName << " only " << describeJoins(onlyOther);
  return os.str();
}

// Records the keys a table deletes.
class DeleteRecorder : public Vorn::NotifieeConstOf<Status> {
 public:
  explicit DeleteRecorder(Vorn::Ptr<Status> const& table) {
    notifierIs(table);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
  }
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override {
    if (attribute != Status::attrMembership) return;
    RouteIntfKey const* k = key.get<RouteIntfKey>();
    if (k && !notifierRaw()->membership(*k)) deleted.push_back(*k);
  }
  std::vector<RouteIntfKey> deleted;
};

// Keys a previous run (or another writer) may have left: some of them are
// Joins the inputs call for, some never are.
RouteIntfKey leftoverKey(ChoiceSource& c) {
  static char const* const sources[] = {"0.0.0.0", "10.0.0.1", "10.9.9.9", "::"};
  static char const* const groups[] = {"225.1.1.1", "225.1.1.2", "225.9.9.9", "ff3e::100"};
  static unsigned short const vlans[] = {1, 10, 11, 20, 30};
  return joinKey(sources[c.below(4)], groups[c.below(4)], vlans[c.below(5)]);
}

// (c) of the judgement, for either path: `provenance(key)` and `check(key, reason)`.
template <class Provenance, class Check>
std::string provenanceOf(JoinSet const& joins, Provenance provenance, Check check) {
  for (RouteIntfKey const& key : joins) {
    Irb::Multicast::Egress::JoinProvenance const why = provenance(key);
    std::ostringstream os;
    os << "the Join " << key;
    if (!why.held) return os.str() + " is not held by the path";
    if (why.reasons.empty()) return os.str() + " has no reason";
    for (auto const& reason : why.reasons) {
      std::string const wrong = check(key, reason);
      if (!wrong.empty()) return os.str() + " has a reason (mapping " + reasonText(reason) + ") that is wrong: " + wrong;
    }
  }
  return {};
}

class L3Driver final : public PathDriver {
 public:
  PathKind kind() const override { return PathKind::l3; }

  void leftoversIs(Status& gmp, ChoiceSource& c) override {
    for (unsigned n = c.below(4); n > 0; --n) gmp.membershipIs(Membership{leftoverKey(c), c.percent(80) ? 1u : 2u});
  }

  void start(InputWorld& world, Vorn::Ptr<Status> const& gmp, std::uint64_t) override {
    sm_ = Irb::Multicast::Egress::l3InjectSmFactory(world.local(), world.tunnel(), gmp);
    world.membershipStatusRepointed = [this](auto const& s) { sm_->membershipJoinStatusIs(s); };
    world.tunnelStatusRepointed = [this](auto const& s) { sm_->tunnelVlanGroupStatusIs(s); };
  }

  void stop(InputWorld& world) override {
    world.membershipStatusRepointed = nullptr;
    world.tunnelStatusRepointed = nullptr;
    sm_ = nullptr;
  }

  JoinSet freshJoins(InputWorld const& world) override {
    auto table = Status::statusIs();
    auto fresh = Irb::Multicast::Egress::l3InjectSmFactory(world.local(), world.tunnel(), table);
    return joins(*table);
  }

  JoinSet modelJoins(InputWorld const& world) override {
    return l3ModelJoins(world.local().ptr(), *world.tunnel(), starG_);
  }

  std::string provenanceCheck(InputWorld const& world, JoinSet const& joins) override {
    return provenanceOf(
        joins, [&](RouteIntfKey const& k) { return sm_->joinProvenance(k); },
        [&](RouteIntfKey const& k, auto const& r) { return l3ReasonCheck(world.local().ptr(), *world.tunnel(), k, r, starG_); });
  }

  std::string restartCheck(InputWorld const& world, Status const& gmp, ChoiceSource& c) override {
    auto table = Status::statusIs();
    for (auto const& [k, v] : gmp.entries()) table->membershipIs(Membership{k, v});
    for (unsigned n = 1 + c.below(4); n > 0; --n) table->membershipIs(Membership{leftoverKey(c), c.percent(70) ? 1u : 0u});
    std::set<RouteIntfKey> before;
    for (auto const& [k, v] : table->entries()) before.insert(k);
    JoinSet const wanted = modelJoins(world);
    auto recorder = Vorn::Ptr<DeleteRecorder>(new DeleteRecorder(table));
    auto second = Irb::Multicast::Egress::l3InjectSmFactory(world.local(), world.tunnel(), table);
    std::ostringstream os;
    for (auto const& k : recorder->deleted) {
      if (wanted.count(k)) os << "a restart deleted the wanted Join " << k << "; ";
    }
    std::set<RouteIntfKey> const deleted(recorder->deleted.begin(), recorder->deleted.end());
    if (deleted.size() != recorder->deleted.size()) os << "a restart deleted an entry twice; ";
    std::set<RouteIntfKey> stale;
    std::set_difference(before.begin(), before.end(), wanted.begin(), wanted.end(), std::inserter(stale, stale.end()));
    if (deleted != stale) os << "a restart removed {" << describeJoins(deleted) << "}, not the stale {" << describeJoins(stale) << "}; ";
    if (joins(*table) != wanted || table->entries().size() != wanted.size()) {
      os << difference(joins(*table), wanted, "the model after a restart") << "; ";
    }
    return os.str();
  }

 private:
  Vorn::Ptr<Irb::Multicast::Egress::L3InjectSm> sm_;
  bool const starG_ = modelStarG();
};

class VpnDriver final : public PathDriver {
 public:
  explicit VpnDriver(bool withIrb) : withIrb_(withIrb) {}
  PathKind kind() const override { return PathKind::vpn; }

  void start(InputWorld& world, Vorn::Ptr<Status> const& gmp, std::uint64_t seed) override {
    sched_ = Vorn::make<Keel::TaskScheduler>();
    sched_->randomBudgetIs(seed, 3);
    vpn_ = Irb::Multicast::Egress::vpnInjectSmFactory(sched_, world.coll(), world.tunnel(), irbOf(world), gmp);
    world.sbdToVlanStatus = [this] { return vpn_ ? vpn_->sbdToVlanStatus() : nullptr; };
  }

  void stop(InputWorld& world) override {
    world.sbdToVlanStatus = nullptr;
    vpn_ = nullptr;
    if (sched_) sched_->runUntilIdle();
    sched_ = nullptr;
  }

  void settle() override {
    if (sched_) sched_->runUntilIdle();
  }
  void runSome(unsigned slices) override {
    if (sched_) sched_->runUntilIdle(slices);
  }

  JoinSet freshJoins(InputWorld const& world) override {
    auto sched = Vorn::make<Keel::TaskScheduler>();
    auto table = Status::statusIs();
    auto fresh = Irb::Multicast::Egress::vpnInjectSmFactory(sched, world.coll(), world.tunnel(), irbOf(world), table);
    sched->runUntilIdle();
    return joins(*table);
  }

  JoinSet modelJoins(InputWorld const& world) override {
    return vpnModelJoins(*world.coll(), *world.tunnel(), withIrb_ ? world.irb().ptr() : nullptr, starG_);
  }

  std::string provenanceCheck(InputWorld const& world, JoinSet const& joins) override {
    return provenanceOf(
        joins, [&](RouteIntfKey const& k) { return vpn_->joinProvenance(k); },
        [&](RouteIntfKey const& k, auto const& r) {
          return vpnReasonCheck(*world.coll(), *world.tunnel(), irbOf(world).ptr(), k, r, starG_);
        });
  }

 private:
  Vorn::Ptr<Irb::Multicast::McastIrbStatus const> irbOf(InputWorld const& world) const {
    return withIrb_ ? Vorn::Ptr<Irb::Multicast::McastIrbStatus const>(world.irb()) : nullptr;
  }

  bool const withIrb_;
  bool const starG_ = modelStarG();
  Vorn::Ptr<Keel::TaskScheduler> sched_;
  Vorn::Ptr<Irb::Multicast::Egress::VpnInjectSm> vpn_;
};

// The judgement once idle: "" when the running path agrees with the model
// and with a fresh instance.
std::string judge(PathDriver& driver, InputWorld const& world, Status const& gmp) {
  driver.settle();
  JoinSet const running = joins(gmp);
  JoinSet const model = driver.modelJoins(world);
  if (running != model) return difference(running, model, "the model");
  JoinSet const fresh = driver.freshJoins(world);
  if (running != fresh) return difference(running, fresh, "a fresh instance");
  if (gmp.entries().size() != running.size()) return "the table holds entries other than Joins";
  return driver.provenanceCheck(world, running);
}

}  // namespace

std::unique_ptr<PathDriver> l3Driver() { return std::make_unique<L3Driver>(); }
std::unique_ptr<PathDriver> vpnDriver(bool withIrbStatus) { return std::make_unique<VpnDriver>(withIrbStatus); }

RunReport runChanges(PathDriver& driver, RunSpec const& plan) {
  SeededChoices choices(plan.seed);
  return runChanges(driver, plan, choices);
}

RunReport runChanges(PathDriver& driver, RunSpec const& plan, ChoiceSource& c) {
  auto const* bytes = dynamic_cast<ByteChoices const*>(&c);
  auto const dry = [bytes] { return bytes && bytes->exhausted(); };
  RunReport report;
  InputWorld world(driver.kind());
  auto gmp = Status::statusIs();
  for (std::size_t i = 0; i < plan.warmup && !dry(); ++i) report.log.push_back("(before start) " + world.change(c));
  driver.leftoversIs(*gmp, c);
  driver.start(world, gmp, plan.seed);
  report.log.push_back("start");
  auto const fail = [&](std::string what) {
    report.failed = true;
    report.what = std::move(what);
    driver.stop(world);
    return report;
  };
  if (auto why = judge(driver, world, *gmp); !why.empty()) return fail("at start: " + why);

  std::size_t const last = std::min(plan.changes, plan.stopAfter);
  for (std::size_t n = 1; n <= last && !dry(); ++n) {
    report.log.push_back(world.change(c));
    report.changesRun = n;
    bool const check = c.percent(plan.checkPercent);
    unsigned const slices = c.below(3);
    if (check || n == last) {
      if (auto why = judge(driver, world, *gmp); !why.empty()) return fail(why);
      if (plan.restartEvery && n % plan.restartEvery == 0) {
        if (auto why = driver.restartCheck(world, *gmp, c); !why.empty()) return fail(why);
      }
    } else {
      // Leave deferred work half done: the next change arrives mid-walk.
      driver.runSome(slices);
    }
  }

  driver.stop(world);
  if (!gmp->entries().empty()) return fail("after teardown the table holds " + describeJoins(joins(*gmp)));
  for (int i = 0; i < 5 && !dry(); ++i) {
    report.log.push_back("(after teardown) " + world.change(c));
    if (!gmp->entries().empty()) return fail("a stopped path wrote " + describeJoins(joins(*gmp)));
  }
  return report;
}

RunReport shortestFailingPrefix(PathDriver& driver, RunSpec const& plan, RunReport const& failed) {
  RunReport best = failed;
  auto const failsAt = [&](std::size_t n) {
    RunSpec prefix = plan;
    prefix.stopAfter = n;
    RunReport r = runChanges(driver, prefix);
    if (r.failed) best = r;
    return r.failed;
  };
  std::size_t const upTo = failed.changesRun;
  if (upTo <= 1500) {
    // Every prefix in turn: the first that fails is the shortest.
    for (std::size_t n = 0; n < upTo; ++n)
      if (failsAt(n)) return best;
    return best;
  }
  // Long runs: halve the window (a failure need not be monotonic in the
  // prefix length, so this finds a short prefix, not always the shortest).
  std::size_t lo = 0;
  std::size_t hi = upTo;
  while (lo < hi) {
    std::size_t const mid = lo + (hi - lo) / 2;
    if (failsAt(mid)) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  failsAt(hi);
  return best;
}

std::string describeFailure(RunSpec const& plan, RunReport const& shortest, std::string const& testFilter,
                            std::string const& program) {
  std::ostringstream os;
  os << "seed " << plan.seed << " fails after " << shortest.changesRun << " change(s) (shortest failing prefix): "
     << shortest.what << "\nreplay: MCINJECT_SEED=" << plan.seed << " MCINJECT_STEPS=" << shortest.changesRun
     << ' ' << program << " --gtest_filter='" << testFilter << "'\nchanges:";
  std::size_t const n = shortest.log.size();
  std::size_t const from = n > 400 ? n - 400 : 0;
  if (from > 0) os << "\n  ... " << from << " earlier change(s) left out";
  for (std::size_t i = from; i < n; ++i) os << "\n  " << i + 1 << ": " << shortest.log[i];
  return os.str();
}

namespace {
std::uint64_t envNumber(char const* name, std::uint64_t fallback) {
  char const* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  unsigned long long const n = std::strtoull(v, &end, 10);
  return end && *end == '\0' ? n : fallback;
}
}  // namespace

RandomizedSettings randomizedSettings(std::vector<std::uint64_t> const& defaultSeeds, std::size_t defaultChanges) {
  RandomizedSettings s;
  s.changesPerSeed = envNumber("MCINJECT_STEPS", 0);
  std::uint64_t const total = envNumber("MCINJECT_LONG", 0);
  bool const seedGiven = std::getenv("MCINJECT_SEED") != nullptr;
  std::uint64_t const seed = envNumber("MCINJECT_SEED", 1);
  if (total > 0) {
    s.longMode = true;
    if (s.changesPerSeed == 0) s.changesPerSeed = 20000;
    std::uint64_t const first = seedGiven ? seed : 1000;
    for (std::uint64_t done = 0, k = 0; done < total; done += s.changesPerSeed, ++k) s.seeds.push_back(first + k);
    return s;
  }
  if (s.changesPerSeed == 0) s.changesPerSeed = defaultChanges;
  s.seeds = seedGiven ? std::vector<std::uint64_t>{seed} : defaultSeeds;
  return s;
}

}  // namespace TestSupport
