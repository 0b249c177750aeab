// Leaf-scale benchmarks of the two inject paths, each beside the reference
// model on the same inputs:
//   L3Startup[Stale]/N        l3InjectSmFactory over N mappings whose groups
//                             all have local members (Stale: the table also
//                             holds N entries nobody wants).
//   VpnConvergence/N/P        vpnInjectSmFactory, then the scheduler to idle,
//                             with 1 local and P peer statuses.
//   VpnChurnSingle/N/P        in the converged VPN state, one local join or
//                             leave of a random group, then the scheduler to
//                             idle; time per change.
//   VpnChurnBurst/N/P         1,000 such changes, then one drain; per change.
//   VpnMemory/N/P             heap bytes of the converged VPN state (live
//                             bytes from the allocation counter, AllocCounter.h):
//                               lib_B_all_per_mapping  all of it over N + V mappings;
//                               B_per_mapping          the path over the mappings
//                                                      alone (no membership);
//                               B_per_entry            what attaching the statuses
//                                                      adds (trackers and the Joins
//                                                      they cause) per group entry;
//                               retained_B_per_mapping still allocated after
//                                                      teardown, over N + V mappings.
// Every benchmark checks once, outside the timed region, that the library's
// Joins equal the model's, and reports `model_*` times and `ratio` (library
// time over model time). For the churn the model is one full evaluation on
// the final state: its ratio compares one incremental change with a full
// recomputation. Times are CPU time of the benchmark thread (start-up and
// convergence: manual time; churn: the per_change counter and the CPU column).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "AllocCounter.h"
#include "Keel/TaskScheduler.h"
#include "Pim/l3/L3InjectSm.h"
#include "Pim/vpn/VpnInjectSm.h"
#include "Workload.h"
#include "model/McastIrbStatus.h"
#include "support/ReferenceModel.h"

namespace {

// The machine is shared: timed regions are measured in this thread's CPU time
// (wall time would charge other processes' slices to us).
struct Clock {
  struct time_point {
    double seconds;
  };
  static time_point now() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return {static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9};
  }
};

using Irb::Multicast::McastIrbStatus;
using Irb::Multicast::Egress::l3InjectSmFactory;
using Irb::Multicast::Egress::vpnInjectSmFactory;
using Routing::Gmp::Brim::Status;

// Set by every failed check: main() then exits non-zero, so that a smoke run
// fails on a wrong answer, not only on a crash.
bool checkFailed = false;

void fail(benchmark::State& state, std::string const& what) {
  checkFailed = true;
  state.SkipWithError(what.c_str());
}

double secondsSince(Clock::time_point t0) { return Clock::now().seconds - t0.seconds; }

std::string mismatch(char const* what, std::size_t got, std::size_t want) {
  return std::string(what) + ": library Joins differ from the model's (" + std::to_string(got) + " vs " +
         std::to_string(want) + ")";
}

void reportTimes(benchmark::State& state, double libSeconds, double modelSeconds, std::size_t joins,
                 std::size_t mappings) {
  state.counters["model_ms"] = benchmark::Counter(modelSeconds * 1e3, benchmark::Counter::kAvgIterations);
  state.counters["ratio"] = modelSeconds > 0 ? libSeconds / modelSeconds : 0.0;
  state.counters["joins"] = static_cast<double>(joins);
  state.counters["mappings"] = static_cast<double>(mappings);
}

// The timed work of each workload, kept out of line so that a profiler can
// collect exactly it (e.g. valgrind --toggle-collect='*timedL3Start*').
[[gnu::noinline]] Vorn::Ptr<Irb::Multicast::Egress::L3InjectSm> timedL3Start(
    Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus> const& local,
    Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> const& tunnel, Vorn::Ptr<Status> const& gmp) {
  return l3InjectSmFactory(local, tunnel, gmp);
}

[[gnu::noinline]] void timedVpnStart(Vorn::Ptr<Keel::TaskScheduler>& scheduler,
                                     Vorn::Ptr<Irb::Multicast::Egress::VpnInjectSm>& vpn,
                                     Vorn::Ptr<Irb::Multicast::Egress::MembershipJoinStatusColl> const& coll,
                                     Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> const& tunnel,
                                     Vorn::Ptr<McastIrbStatus> const& irb, Vorn::Ptr<Status> const& gmp) {
  scheduler = Vorn::make<Keel::TaskScheduler>();
  vpn = vpnInjectSmFactory(scheduler, coll, tunnel, irb, gmp);
  scheduler->runUntilIdle();
}

// `count` changes from keys[next...] (wrapping), then the scheduler to idle.
[[gnu::noinline]] std::size_t timedChurn(Irb::Multicast::Gmp::MembershipJoinStatus& local,
                                         std::vector<std::pair<Bridging::VlanId, Wirl::IpGenAddr>> const& keys,
                                         std::size_t next, std::size_t count, Keel::TaskScheduler& scheduler) {
  for (std::size_t b = 0; b < count; ++b) {
    auto const& [vlan, group] = keys[next];
    next = (next + 1) & (keys.size() - 1);
    Bench::toggleGroup(local, vlan, group);
  }
  scheduler.runUntilIdle();
  return next;
}

// ---- L3 start-up ---------------------------------------------------------------------

void l3Startup(benchmark::State& state, bool stale) {
  Bench::Leaf const leaf(static_cast<std::size_t>(state.range(0)), 1);
  auto const tunnel = leaf.tunnelStatus();
  auto const local = leaf.allLocal();
  auto const gmp = Status::statusIs();
  bool const starG = TestSupport::modelStarG();

  {  // the check, untimed
    if (stale) leaf.staleEntriesIs(*gmp);
    auto sm = l3InjectSmFactory(local, tunnel, gmp);
    auto const got = Bench::joins(*gmp);
    auto const want = TestSupport::l3ModelJoins(local.ptr(), *tunnel, starG);
    if (got != want || gmp->membershipCount() != want.size()) {
      fail(state, mismatch("L3 start-up", got.size(), want.size()));
      return;
    }
    sm = nullptr;
    if (gmp->membershipCount() != 0) {
      fail(state, "L3 start-up: teardown left entries in the table");
      return;
    }
  }

  double lib = 0, model = 0;
  std::size_t joins = 0;
  Bench::HeapUse held;
  for (auto _ : state) {
    if (stale) leaf.staleEntriesIs(*gmp);
    auto const h0 = Bench::heapNow();
    auto const t0 = Clock::now();
    auto sm = timedL3Start(local, tunnel, gmp);
    double const s = secondsSince(t0);
    held = Bench::heapNow() - h0;
    state.SetIterationTime(s);
    lib += s;
    {
      auto const t1 = Clock::now();
      auto want = TestSupport::l3ModelJoins(local.ptr(), *tunnel, starG);
      benchmark::DoNotOptimize(want);
      model += secondsSince(t1);
      joins = want.size();
    }
    sm = nullptr;  // teardown, untimed
  }
  reportTimes(state, lib, model, joins, leaf.allMappings());
  state.counters["lib_B_per_mapping"] = static_cast<double>(held.bytes) / static_cast<double>(leaf.allMappings());
}

void L3Startup(benchmark::State& state) { l3Startup(state, false); }
void L3StartupStale(benchmark::State& state) { l3Startup(state, true); }

// ---- the converged VPN state ------------------------------------------------------------

struct VpnWorld {
  explicit VpnWorld(benchmark::State const& state)
      : leaf(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1))),
        tunnel(leaf.tunnelStatus()),
        membership(leaf.shared()),
        coll(Bench::collectionOf(membership)),
        irb(McastIrbStatus::mcastIrbStatusIs()),
        gmp(Status::statusIs()) {}

  TestSupport::JoinSet model() const {
    return TestSupport::vpnModelJoins(*coll, *tunnel, irb.ptr(), TestSupport::modelStarG());
  }
  // Builds the path and runs the scheduler to idle.
  void start() { timedVpnStart(scheduler, vpn, coll, tunnel, irb, gmp); }
  void stop() {
    vpn = nullptr;
    scheduler = nullptr;
  }
  // "" when the library's Joins are the model's.
  std::string check(char const* what) const {
    auto const got = Bench::joins(*gmp);
    auto const want = model();
    if (got != want || gmp->membershipCount() != want.size()) return mismatch(what, got.size(), want.size());
    return {};
  }

  Bench::Leaf leaf;
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> tunnel;
  Bench::Leaf::Membership membership;
  Vorn::Ptr<Irb::Multicast::Egress::MembershipJoinStatusColl> coll;
  Vorn::Ptr<McastIrbStatus> irb;
  Vorn::Ptr<Status> gmp;
  Vorn::Ptr<Keel::TaskScheduler> scheduler;
  Vorn::Ptr<Irb::Multicast::Egress::VpnInjectSm> vpn;
};

// ---- VPN convergence ---------------------------------------------------------------------

void VpnConvergence(benchmark::State& state) {
  VpnWorld w(state);
  w.start();
  if (auto e = w.check("VPN convergence"); !e.empty()) {
    fail(state, e);
    return;
  }
  w.stop();
  if (w.gmp->membershipCount() != 0) {
    fail(state, "VPN convergence: teardown left entries in the table");
    return;
  }

  double lib = 0, model = 0;
  std::size_t joins = 0;
  Bench::HeapUse held;
  for (auto _ : state) {
    auto const h0 = Bench::heapNow();
    auto const t0 = Clock::now();
    w.start();
    double const s = secondsSince(t0);
    held = Bench::heapNow() - h0;
    state.SetIterationTime(s);
    lib += s;
    {
      auto const t1 = Clock::now();
      auto want = w.model();
      benchmark::DoNotOptimize(want);
      model += secondsSince(t1);
      joins = want.size();
    }
    w.stop();  // untimed
  }
  reportTimes(state, lib, model, joins, w.leaf.allMappings());
  state.counters["entries"] = static_cast<double>(w.membership.groupEntries);
  state.counters["lib_B_per_mapping"] = static_cast<double>(held.bytes) / static_cast<double>(w.leaf.allMappings());
}

// ---- VPN churn ------------------------------------------------------------------------------

void churn(benchmark::State& state, std::size_t burst) {
  VpnWorld w(state);
  w.start();
  if (auto e = w.check("churn start"); !e.empty()) {
    fail(state, e);
    return;
  }
  // Random groups, drawn up front so the loop times only the changes.
  std::mt19937_64 rng(42);
  std::uniform_int_distribution<std::size_t> pick(0, w.leaf.mappings() - 1);
  std::vector<std::uint32_t> order(1u << 16);
  for (auto& i : order) i = static_cast<std::uint32_t>(pick(rng));
  std::vector<std::pair<Bridging::VlanId, Wirl::IpGenAddr>> keys;
  keys.reserve(order.size());
  for (auto i : order) keys.emplace_back(w.leaf.vlanOf(i), w.leaf.groupOf(i));

  auto& local = *w.membership.local;
  auto const writes0 = w.gmp->membershipIsCalls() + w.gmp->membershipDelCalls();
  std::size_t next = 0, changes = 0;
  auto const loopStart = Clock::now();
  for (auto _ : state) {
    next = timedChurn(local, keys, next, burst, *w.scheduler);
    changes += burst;
  }
  double const loopSeconds = secondsSince(loopStart);
  auto const writes = w.gmp->membershipIsCalls() + w.gmp->membershipDelCalls() - writes0;

  auto const t1 = Clock::now();
  auto want = w.model();
  double const model = secondsSince(t1);
  if (auto e = w.check("churn end"); !e.empty()) {
    fail(state, e);
    return;
  }
  state.counters["per_change"] = benchmark::Counter(static_cast<double>(burst),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
  state.counters["model_ms"] = model * 1e3;
  state.counters["joins"] = static_cast<double>(want.size());
  state.counters["mappings"] = static_cast<double>(w.leaf.allMappings());
  state.counters["writes_per_change"] = changes ? static_cast<double>(writes) / static_cast<double>(changes) : 0.0;
  // One change end to end (by the loop's own clock) over one full evaluation.
  state.counters["ratio"] = changes && model > 0 ? loopSeconds / static_cast<double>(changes) / model : 0.0;
  w.stop();
}

void VpnChurnSingle(benchmark::State& state) { churn(state, 1); }
void VpnChurnBurst(benchmark::State& state) { churn(state, 1000); }

// ---- VPN memory -------------------------------------------------------------------------------

// Inputs of one memory measurement. Every measurement gets fresh inputs, so that
// nothing an earlier one left on them is counted.
struct MemoryInputs {
  MemoryInputs(Bench::Leaf const& leaf, Bench::HeapUse& tunnelBytes, Bench::HeapUse& membershipBytes) {
    auto const h0 = Bench::heapNow();
    tunnel = leaf.tunnelStatus();
    auto const h1 = Bench::heapNow();
    membership = leaf.shared();
    auto const h2 = Bench::heapNow();
    tunnelBytes = h1 - h0;
    membershipBytes = h2 - h1;
  }
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> tunnel;
  Bench::Leaf::Membership membership;
  Vorn::Ptr<McastIrbStatus> irb = McastIrbStatus::mcastIrbStatusIs();
  Vorn::Ptr<Status> gmp = Status::statusIs();
  Vorn::Ptr<Keel::TaskScheduler> scheduler = Vorn::make<Keel::TaskScheduler>();
};

void VpnMemory(benchmark::State& state) {
  for (auto _ : state) {
    Bench::Leaf const leaf(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    bool const starG = TestSupport::modelStarG();
    Bench::HeapUse tunnelBytes, membershipBytes;

    // The converged state as VpnConvergence builds it: everything the library holds.
    TestSupport::JoinSet want;
    Bench::HeapUse total, table, modelBytes, retained;
    {
      MemoryInputs in(leaf, tunnelBytes, membershipBytes);
      auto coll = Bench::collectionOf(in.membership);
      auto const h0 = Bench::heapNow();
      auto vpn = vpnInjectSmFactory(in.scheduler, coll, in.tunnel, in.irb, in.gmp);
      in.scheduler->runUntilIdle();
      total = Bench::heapNow() - h0;
      want = TestSupport::vpnModelJoins(*coll, *in.tunnel, in.irb.ptr(), starG);
      if (Bench::joins(*in.gmp) != want) {
        fail(state, "memory: library Joins differ from the model's");
        return;
      }
      // What the table's Join entries take: a table written with the same
      // entries grows its buckets the same way.
      {
        auto const entries = in.gmp->entries();
        auto const h1 = Bench::heapNow();
        auto tableCopy = Routing::Gmp::Brim::Status::statusIs();
        for (auto const& [k, v] : entries) tableCopy->membershipIs(Routing::Gmp::Brim::Membership{k, v});
        table = Bench::heapNow() - h1;
      }
      // The model's answer, for scale.
      auto const h2 = Bench::heapNow();
      auto modelCopy = want;
      modelBytes = Bench::heapNow() - h2;
      modelCopy.clear();
      vpn = nullptr;
      // Left after teardown, less the model's answer (`want`, still held).
      retained = Bench::heapNow() - h0 - modelBytes;
    }

    // Split, on fresh inputs: the pipeline over the mappings alone (empty
    // collection), then what attaching the membership statuses adds (their
    // trackers and the Joins they cause).
    Bench::HeapUse perMapping, perEntry;
    {
      Bench::HeapUse ignored1, ignored2;
      MemoryInputs in(leaf, ignored1, ignored2);
      auto coll = Irb::Multicast::Egress::membershipJoinStatusCollFactory();
      auto const h0 = Bench::heapNow();
      auto vpn = vpnInjectSmFactory(in.scheduler, coll, in.tunnel, in.irb, in.gmp);
      in.scheduler->runUntilIdle();
      auto const h1 = Bench::heapNow();
      coll->localMembershipIs(in.membership.local);
      for (auto const& p : in.membership.peers) coll->peerMembershipIs(p);
      in.scheduler->runUntilIdle();
      auto const h2 = Bench::heapNow();
      if (Bench::joins(*in.gmp) != want) {
        fail(state, "memory: Joins after attaching the statuses differ from the model's");
        return;
      }
      perMapping = h1 - h0;
      perEntry = h2 - h1;
    }

    double const mappings = static_cast<double>(leaf.allMappings());
    double const entries = static_cast<double>(leaf.shared().groupEntries);
    double const joins = static_cast<double>(want.size());
    state.counters["mappings"] = mappings;
    state.counters["entries"] = entries;
    state.counters["joins"] = joins;
    state.counters["input_B_per_mapping"] = static_cast<double>(tunnelBytes.bytes) / mappings;
    state.counters["input_B_per_entry"] = static_cast<double>(membershipBytes.bytes) / entries;
    state.counters["lib_MB"] = static_cast<double>(total.bytes) / 1e6;
    state.counters["lib_B_all_per_mapping"] = static_cast<double>(total.bytes) / mappings;
    state.counters["lib_blocks_per_mapping"] = static_cast<double>(total.blocks) / mappings;
    state.counters["B_per_mapping"] = static_cast<double>(perMapping.bytes) / mappings;
    state.counters["B_per_entry"] = static_cast<double>(perEntry.bytes) / entries;
    state.counters["table_B_per_join"] = joins > 0 ? static_cast<double>(table.bytes) / joins : 0.0;
    state.counters["model_B_per_join"] = joins > 0 ? static_cast<double>(modelBytes.bytes) / joins : 0.0;
    state.counters["retained_B_per_mapping"] = static_cast<double>(retained.bytes) / mappings;
  }
}

}  // namespace

BENCHMARK(L3Startup)->Arg(4096)->Arg(16384)->Arg(65536)->Arg(131072)->Arg(262144)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(L3StartupStale)->Arg(4096)->Arg(16384)->Arg(65536)->UseManualTime()->Unit(benchmark::kMillisecond);

#define MCINJECT_LEAF_SIZES \
  Args({4096, 64})->Args({16384, 64})->Args({65536, 64})->Args({65536, 512})->Args({131072, 64})->Args({262144, 64})
BENCHMARK(VpnConvergence)->MCINJECT_LEAF_SIZES->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(VpnChurnSingle)->MCINJECT_LEAF_SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(VpnChurnBurst)->MCINJECT_LEAF_SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(VpnMemory)->MCINJECT_LEAF_SIZES->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return checkFailed ? 1 : 0;
}
