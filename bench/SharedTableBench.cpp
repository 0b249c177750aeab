// The status table in a shared segment against the in-process table:
//   S1_TableWriteDelete/N   N Joins written, then the N deleted, into an
//                           in-process table and into one backed by a shared
//                           segment, in the same run; counters give both rates
//                           (operations per second of CPU time) and `ratio`,
//                           shared time over in-process time. Keys come in
//   S1_..Shuffled/N         key order, or (Shuffled) in a random order, as
//                           membership churn brings them.
//   S2_RestartL3/N          l3InjectSmFactory over a surviving segment that
//   S2_RestartVpn/N/P       holds the Joins of the same inputs (opening the
//                           segment included; VPN: scheduler to idle, its
//                           start-up cleanup included); `inproc_ms` is the same
//                           start over an in-process table holding those Joins,
//                           `ratio` shared over in-process.
// Every run checks, untimed, that the shared segment ends up holding exactly
// the table's entries. Segments are named after the process and removed.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "Brim/SharedSegment.h"
#include "Brim/Status.h"
#include "Keel/TaskScheduler.h"
#include "Pim/l3/L3InjectSm.h"
#include "Pim/vpn/VpnInjectSm.h"
#include "Workload.h"
#include "model/McastIrbStatus.h"

namespace {

using Routing::Gmp::Brim::Membership;
using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Gmp::Brim::SegmentReader;
using Routing::Gmp::Brim::Status;

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct BenchSegment {
  explicit BenchSegment(char const* what) : name("mcinject-bench-" + std::to_string(::getpid()) + "-" + what) {}
  ~BenchSegment() { ::shm_unlink(("/" + name).c_str()); }
  std::string name;
};

Routing::Gmp::Brim::SegmentOptions sized(std::size_t joins) { return {.capacity = 2 * joins + 1024}; }

// "" when the segment holds exactly the table's entries.
std::string segmentMatches(Status const& table) {
  auto reader = SegmentReader::open(table.segment()->name());
  auto const entries = reader->snapshot();
  if (entries.size() != table.membershipCount()) return "segment and table differ in size";
  for (Membership const& m : entries) {
    if (table.membership(m.key) != m) return "segment holds an entry the table does not";
  }
  return {};
}

[[gnu::noinline]] double writeThenDelete(Status& table, std::vector<RouteIntfKey> const& keys) {
  double const t0 = cpuSeconds();
  for (RouteIntfKey const& k : keys) table.membershipIs(Membership{k, 1});
  for (RouteIntfKey const& k : keys) table.membershipDel(k);
  return cpuSeconds() - t0;
}

void s1(benchmark::State& state, bool shuffled) {
  auto const n = static_cast<std::size_t>(state.range(0));
  std::vector<RouteIntfKey> keys;
  keys.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    keys.emplace_back(Wirl::IpGenAddr(Wirl::AddressFamily::ipv4), Wirl::IpGenAddr::v4(0xe1000000u + static_cast<std::uint32_t>(i)),
                      Wirl::VlanIntfId::vlanIdToIntfId(static_cast<unsigned short>(1 + i % 4094)));
  }
  if (shuffled) std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  BenchSegment seg("s1");
  auto inproc = Status::statusIs();
  auto shared = Status::statusIs(seg.name, sized(n));
  // Untimed first pass: a new segment's pages are allocated on first touch,
  // once in the life of a segment, not on every write.
  writeThenDelete(*inproc, keys);
  writeThenDelete(*shared, keys);
  double local = 0, remote = 0;
  for (auto _ : state) {
    local += writeThenDelete(*inproc, keys);
    remote += writeThenDelete(*shared, keys);
  }
  for (std::size_t i = 0; i < n; i += 3) shared->membershipIs(Membership{keys[i], 1});
  if (auto e = segmentMatches(*shared); !e.empty()) state.SkipWithError(e.c_str());
  double const ops = 2.0 * static_cast<double>(n) * static_cast<double>(state.iterations());
  state.counters["inproc_ops_per_s"] = ops / local;
  state.counters["shared_ops_per_s"] = ops / remote;
  state.counters["ratio"] = remote / local;
}

void S1_TableWriteDelete(benchmark::State& state) { s1(state, false); }
void S1_TableWriteDeleteShuffled(benchmark::State& state) { s1(state, true); }

// Starts one path on `gmp` and runs it to idle; returns it.
struct Started {
  Vorn::Ptr<Keel::TaskScheduler> scheduler;
  Vorn::Ptr<Vorn::PtrInterface> path;
};

void restart(benchmark::State& state, bool vpn) {
  auto const n = static_cast<std::size_t>(state.range(0));
  Bench::Leaf const leaf(n, vpn ? static_cast<std::size_t>(state.range(1)) : 1);
  auto const tunnel = leaf.tunnelStatus();
  auto const local = leaf.allLocal();
  auto const membership = leaf.shared();
  auto const coll = Bench::collectionOf(membership);
  auto const irb = Irb::Multicast::McastIrbStatus::mcastIrbStatusIs();
  auto const start = [&](Vorn::Ptr<Status> const& gmp) {
    Started s;
    if (vpn) {
      s.scheduler = Vorn::make<Keel::TaskScheduler>();
      s.path = Irb::Multicast::Egress::vpnInjectSmFactory(s.scheduler, coll, tunnel, irb, gmp);
      s.scheduler->runUntilIdle();
    } else {
      s.path = Irb::Multicast::Egress::l3InjectSmFactory(local, tunnel, gmp);
    }
    return s;
  };
  BenchSegment seg(vpn ? "s2v" : "s2l");
  std::size_t joins = 0;
  {  // the run before the restart: its Joins stay in the segment
    auto gmp = Status::statusIs(seg.name, sized(n));
    Started s = start(gmp);
    joins = gmp->membershipCount();
    gmp->segmentRelease();
  }
  double shared = 0, inproc = 0;
  for (auto _ : state) {
    double const t0 = cpuSeconds();
    auto gmp = Status::statusIs(seg.name);
    Started s = start(gmp);
    shared += cpuSeconds() - t0;
    state.SetIterationTime(cpuSeconds() - t0);
    state.PauseTiming();
    if (gmp->membershipCount() != joins) state.SkipWithError("the restart changed the Joins");
    auto copy = Status::statusIs();
    for (auto const& [k, v] : gmp->entries()) copy->membershipIs(Membership{k, v});
    gmp->segmentRelease();
    s = Started();
    double const t1 = cpuSeconds();
    Started c = start(copy);
    inproc += cpuSeconds() - t1;
    c = Started();
    state.ResumeTiming();
  }
  if (auto e = segmentMatches(*Status::statusIs(seg.name)); !e.empty()) state.SkipWithError(e.c_str());
  auto const iterations = static_cast<double>(state.iterations());
  state.counters["joins"] = static_cast<double>(joins);
  state.counters["inproc_ms"] = inproc * 1e3 / iterations;
  state.counters["ratio"] = shared / inproc;
}

void S2_RestartL3(benchmark::State& state) { restart(state, false); }
void S2_RestartVpn(benchmark::State& state) { restart(state, true); }

}  // namespace

BENCHMARK(S1_TableWriteDelete)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(S1_TableWriteDeleteShuffled)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(S2_RestartL3)->Arg(4096)->Arg(65536)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(S2_RestartVpn)->Args({4096, 64})->Args({65536, 64})->UseManualTime()->Unit(benchmark::kMillisecond);
