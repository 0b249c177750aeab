// The status table in a shared segment, across processes: a reader never sees
// a torn entry while a writer churns; a writer killed at any moment leaves a
// segment over which a restarted path converges to a fresh start's Joins
// without deleting a wanted one; damage between runs is reported and healed.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Brim/SharedSegment.h"
#include "Brim/Status.h"
#include "Corvo/Exception.h"
#include "support/Differential.h"
#include "support/Inputs.h"

namespace {

using Routing::Gmp::Brim::Membership;
using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Gmp::Brim::SegmentReader;
using Routing::Gmp::Brim::Status;
using namespace TestSupport;

// A segment name unique to this run, removed however the test ends.
struct TestSegment {
  TestSegment() {
    static int n = 0;
    name = "mcinject-test-" + std::to_string(::getpid()) + "-" + std::to_string(++n);
  }
  ~TestSegment() { ::shm_unlink(("/" + name).c_str()); }
  std::string name;
};

// Collects what tables report through doCorruptionDetected.
struct Reports {
  Reports() {
    Brim::BrimMapBase::reporterIs([this](std::string const&, std::string const& msg) { msgs.push_back(msg); });
  }
  ~Reports() { Brim::BrimMapBase::reporterIs(nullptr); }
  std::vector<std::string> msgs;
};

Routing::Gmp::Brim::SegmentOptions small() { return {.capacity = 4096}; }

// Key n of the churn, and the value that goes with it (a torn read would pair
// a key with another key's value).
RouteIntfKey churnKey(unsigned n) {
  return joinKey(n % 3 ? "0.0.0.0" : "10.0.0.1", "225.1." + std::to_string(n / 250) + "." + std::to_string(n % 250),
                 static_cast<unsigned short>(1 + n % 97));
}
std::uint32_t churnValue(RouteIntfKey const& k) {
  return static_cast<std::uint32_t>(std::hash<std::string>()(k.group().stringValue() + k.intf().stringValue()) % 1000003) + 2;
}

TEST(SharedSegment, ReaderInAnotherProcessNeverSeesATornEntry) {
  TestSegment seg;
  constexpr unsigned kKeys = 3000;
  { auto create = Status::statusIs(seg.name, small()); }
  pid_t const writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    auto table = Status::statusIs(seg.name, small());
    std::mt19937 rng(5);
    for (unsigned i = 0; i < 600000; ++i) {
      RouteIntfKey const k = churnKey(rng() % kKeys);
      if (table->membership(k)) {
        table->membershipDel(k);
      } else {
        table->membershipIs(Membership{k, churnValue(k)});
      }
    }
    ::_exit(0);
  }
  auto reader = SegmentReader::open(seg.name);
  std::uint64_t entriesRead = 0;
  unsigned scans = 0;
  std::vector<std::string> problems;
  for (bool last = false; !last && problems.empty(); ++scans) {
    last = ::waitpid(writer, nullptr, WNOHANG) == writer;  // one more whole scan once it is gone
    for (std::uint64_t i = 0; i < reader->slotCount() && problems.size() < 5; ++i) {
      try {
        if (auto m = reader->readSlot(i)) {
          ++entriesRead;
          if (m->value != churnValue(m->key)) problems.push_back("slot " + std::to_string(i) + " pairs a wrong value");
        }
      } catch (Corvo::CorruptionDetectedException const& e) {
        problems.push_back(e.msg());  // nothing damaged the segment: never justified
      }
    }
  }
  if (!problems.empty()) ::kill(writer, SIGKILL), ::waitpid(writer, nullptr, 0);
  EXPECT_EQ(problems, std::vector<std::string>());
  EXPECT_GT(scans, 1u);
  EXPECT_GT(entriesRead, 0u);
}

// One path's run over a segment: `changes` input changes drawn from `seed`,
// each settled; with `fds`, each reported on fds[1] and the next one started
// only once fds[0] says so.
void churn(PathDriver& driver, InputWorld& world, Vorn::Ptr<Status> const& gmp, std::uint64_t seed, unsigned changes,
           int const* fds = nullptr) {
  SeededChoices c(seed);
  driver.start(world, gmp, seed);
  driver.settle();
  char go;
  for (unsigned i = 0; i < changes; ++i) {
    if (fds && ::read(fds[0], &go, 1) != 1) return;
    world.change(c);
    driver.settle();
    if (fds) (void)!::write(fds[1], "x", 1);
  }
}

// Restarts `kind`'s path over the segment with the inputs of the whole churn;
// "" when it converged to a fresh start's Joins without deleting a wanted one.
std::string restart(PathKind kind, std::string const& name, std::uint64_t seed, unsigned changes, Reports& reports,
                    char const* justified) {
  auto driver = kind == PathKind::l3 ? l3Driver() : vpnDriver();
  InputWorld world(kind);
  {  // the final inputs, as the writer would have had them
    auto scratch = Status::statusIs();
    churn(*driver, world, scratch, seed, changes);
    driver->stop(world);
  }
  std::size_t const reportsBefore = reports.msgs.size();
  auto gmp = Status::statusIs(name, small());
  std::string problems;
  for (std::size_t i = reportsBefore; i < reports.msgs.size(); ++i) {
    if (reports.msgs[i].find(justified) == std::string::npos) problems += "unjustified report: " + reports.msgs[i] + "; ";
  }
  std::set<RouteIntfKey> before;
  for (auto const& [k, v] : gmp->entries()) before.insert(k);
  JoinSet const wanted = driver->freshJoins(world);
  struct Recorder : Vorn::NotifieeConstOf<Status> {
    explicit Recorder(Vorn::Ptr<Status> const& t) {
      notifierIs(t);
      isRegisteredNotifieeIs(true);
      hasNotificationActiveIs(true);
    }
    void onAttribute(Vorn::AttributeId, Vorn::Key const& key) override {
      if (auto const* k = key.get<RouteIntfKey>(); k && !notifierRaw()->membership(*k)) deleted.insert(*k);
    }
    std::set<RouteIntfKey> deleted;
  };
  auto recorder = Vorn::Ptr<Recorder>(new Recorder(gmp));
  driver->start(world, gmp, seed);
  driver->settle();
  for (RouteIntfKey const& k : recorder->deleted) {
    if (wanted.count(k) && before.count(k)) {
      std::ostringstream os;
      os << "deleted the wanted Join " << k << "; ";
      problems += os.str();
    }
  }
  if (joins(*gmp) != wanted || gmp->entries().size() != wanted.size()) problems += "table differs from a fresh start; ";
  std::set<std::pair<RouteIntfKey, std::uint32_t>> shared, table;
  for (Membership const& m : SegmentReader::open(name)->snapshot()) shared.emplace(m.key, m.value);
  for (auto const& [k, v] : gmp->entries()) table.emplace(k, v);
  if (shared != table) problems += "segment differs from the table; ";
  gmp->segmentRelease();  // the Joins stay, as the next trial would find them
  driver->stop(world);
  return problems;
}

struct PathRow {
  PathKind kind;
  char const* name;
};
PathRow const kPaths[] = {{PathKind::l3, "L3"}, {PathKind::vpn, "VPN"}};

TEST(SharedSegment, WriterKilledAtARandomMomentRestartsToAFreshStartsJoins) {
  constexpr unsigned kTrials = 25, kChanges = 150;  // per path: 50 trials in all
  for (PathRow const& row : kPaths) {
    for (unsigned trial = 0; trial < kTrials; ++trial) {
      SCOPED_TRACE(std::string(row.name) + " trial " + std::to_string(trial));
      TestSegment seg;
      Reports reports;
      std::uint64_t const seed = 1000 + trial;
      int go[2], done[2];
      ASSERT_EQ(::pipe(go), 0);
      ASSERT_EQ(::pipe(done), 0);
      pid_t const writer = ::fork();
      ASSERT_GE(writer, 0);
      if (writer == 0) {
        int const fds[] = {go[0], done[1]};
        auto driver = row.kind == PathKind::l3 ? l3Driver() : vpnDriver();
        InputWorld world(row.kind);
        churn(*driver, world, Status::statusIs(seg.name, small()), seed, kChanges, fds);
        ::_exit(0);  // no teardown: the Joins stay, as after a crash
      }
      // Killed during a random change, at a random point of it: released
      // change by change, then given a random head start into the next.
      std::mt19937 rng(seed);
      unsigned const killDuring = rng() % kChanges;
      char byte;
      for (unsigned n = 0; n < killDuring; ++n) {
        if (::write(go[1], "g", 1) != 1 || ::read(done[0], &byte, 1) != 1) break;
      }
      (void)!::write(go[1], "g", 1);
      std::atomic<unsigned> spin{static_cast<unsigned>(rng() % 20000)};
      while (spin.fetch_sub(1, std::memory_order_relaxed) > 0) {
      }
      ::kill(writer, SIGKILL);
      ::waitpid(writer, nullptr, 0);
      for (int fd : {go[0], go[1], done[0], done[1]}) ::close(fd);
      EXPECT_EQ(restart(row.kind, seg.name, seed, kChanges, reports, "write left unfinished"), "");
    }
  }
}

// Bytes flipped in the slots between runs, and a slot left mid-write: the
// restart reports each through the table's handler and still converges.
TEST(SharedSegment, DamageBetweenRunsIsReportedAndTheRestartConverges) {
  for (PathRow const& row : kPaths) {
    SCOPED_TRACE(row.name);
    TestSegment seg;
    Reports reports;
    std::uint64_t const seed = 77;
    {
      auto driver = row.kind == PathKind::l3 ? l3Driver() : vpnDriver();
      InputWorld world(row.kind);
      auto gmp = Status::statusIs(seg.name, small());
      churn(*driver, world, gmp, seed, 60);
      for (unsigned n = 0; n < 8; ++n) gmp->membershipIs(Membership{churnKey(n), 1});  // stale by then
      gmp->segmentRelease();
      driver->stop(world);
    }
    // Flip one byte in each of a few occupied slots (check word and zero word
    // included) and one in an empty slot.
    std::set<std::uint64_t> damaged;
    {
      auto reader = SegmentReader::open(seg.name);
      std::vector<std::uint64_t> used;
      for (std::uint64_t i = 0; i < reader->slotCount(); ++i) {
        if (reader->readSlot(i)) used.push_back(i);
      }
      ASSERT_GE(used.size(), 4u);
      int const fd = ::shm_open(("/" + seg.name).c_str(), O_RDWR, 0);
      ASSERT_GE(fd, 0);
      auto* bytes = static_cast<unsigned char*>(::mmap(nullptr, reader->bytes(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
      ::close(fd);
      std::mt19937 rng(seed);
      for (std::uint64_t i : {used[1], used[used.size() / 2], used.back()}) damaged.insert(i);
      std::uint64_t empty = 0;
      while (std::find(used.begin(), used.end(), empty) != used.end()) ++empty;
      damaged.insert(empty);
      for (std::uint64_t i : damaged) bytes[128 + i * 128 + 8 + rng() % 120] ^= static_cast<unsigned char>(1 + rng() % 255);
      bytes[128 + used[0] * 128] |= 1;  // as a writer that died mid-write leaves it
      damaged.insert(used[0]);
      ::munmap(bytes, reader->bytes());
    }
    EXPECT_EQ(restart(row.kind, seg.name, seed, 60, reports, "slot cleared"), "");
    std::set<std::uint64_t> reported;
    for (std::string const& msg : reports.msgs) {
      auto const at = msg.find("slot ");
      if (at != std::string::npos) reported.insert(std::stoull(msg.substr(at + 5)));
    }
    EXPECT_EQ(reported, damaged);
  }
}

}  // namespace

// A full segment drops nothing: what it has no room for is reported, kept in
// the table and moved in as removals free slots.
TEST(SharedSegment, FullSegmentReportsAndCatchesUpWhenRoomFreesUp) {
  TestSegment seg;
  Reports reports;
  auto table = Status::statusIs(seg.name, {.capacity = 16});
  for (unsigned n = 0; n < 20; ++n) table->membershipIs(Membership{churnKey(n), 1});
  EXPECT_EQ(table->membershipCount(), 20u);
  EXPECT_EQ(table->segmentOverflow(), 4u);
  ASSERT_EQ(reports.msgs.size(), 4u);
  EXPECT_NE(reports.msgs[0].find("full (capacity 16 Joins)"), std::string::npos) << reports.msgs[0];
  auto const inSegment = [&] {
    std::set<RouteIntfKey> keys;
    for (Membership const& m : SegmentReader::open(seg.name)->snapshot()) keys.insert(m.key);
    return keys;
  };
  EXPECT_EQ(inSegment().size(), 16u);
  for (unsigned n = 0; n < 6; ++n) table->membershipDel(churnKey(n));
  std::set<RouteIntfKey> all;
  for (auto const& [k, v] : table->entries()) all.insert(k);
  EXPECT_EQ(table->segmentOverflow(), 0u);
  EXPECT_EQ(inSegment(), all);
}
