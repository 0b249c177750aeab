// The GMP membership status table: its point operations, and its walk, whose
// step moves on from the position the hint holds when it can and must answer
// exactly what a search from the key would, whatever happened to the table,
// the key or the hint in between.
#include "Brim/Status.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Corvo/Exception.h"
#include "support/Inputs.h"

namespace {

using Routing::Gmp::Brim::IterHint;
using Routing::Gmp::Brim::Membership;
using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Gmp::Brim::Status;
using Octets = std::vector<int>;

// (*, 225.1.1.n) on VLAN 10; entries sort by n.
RouteIntfKey g(int n) { return TestSupport::joinKey("0.0.0.0", "225.1.1." + std::to_string(n), 10); }
int octetOf(RouteIntfKey const& k) { return static_cast<int>(k.group().v4Addr().value() & 0xffu); }

Vorn::Ptr<Status> tableOf(Octets const& octets) {
  auto t = Status::statusIs();
  for (int n : octets) t->membershipIs(Membership{g(n), 1});
  return t;
}

void add(Status& t, int n) { t.membershipIs(Membership{g(n), 1}); }

TEST(StatusWalk, AHintFromAnotherTableIsNotTrusted) {
  // Both tables hold 20; after it, `a` has 30 and `b` has 50.
  auto a = tableOf({10, 20, 30});
  auto b = tableOf({20, 50});
  RouteIntfKey key;
  IterHint hint;
  ASSERT_TRUE(a->membershipIterNext(key, hint));
  ASSERT_TRUE(a->membershipIterNext(key, hint));
  ASSERT_EQ(key, g(20));
  ASSERT_TRUE(b->membershipIterNext(key, hint));
  EXPECT_EQ(key, g(50));
  // And back: the hint now holds b's position, a's walk still answers from a.
  key = g(20);
  ASSERT_TRUE(a->membershipIterNext(key, hint));
  EXPECT_EQ(key, g(30));
}

TEST(StatusWalk, AtTheEndAnEntryWrittenLaterIsStillReached) {
  auto t = tableOf({10, 20});
  RouteIntfKey key;
  IterHint hint;
  Octets seen;
  while (t->membershipIterNext(key, hint)) seen.push_back(octetOf(key));
  EXPECT_FALSE(t->membershipIterNext(key, hint)) << "the end stays the end";
  add(*t, 30);
  add(*t, 15);
  ASSERT_TRUE(t->membershipIterNext(key, hint));
  EXPECT_EQ(key, g(30));
  EXPECT_EQ(seen, (Octets{10, 20}));
}

TEST(StatusWalk, CorruptionIsRaisedBeforeTheHeldPositionIsUsed) {
  auto t = tableOf({10, 20, 30});
  RouteIntfKey key;
  IterHint hint;
  ASSERT_TRUE(t->membershipIterNext(key, hint));
  t->corruptNextReadIs(true);
  EXPECT_THROW(t->membershipIterNext(key, hint), Corvo::CorruptionDetectedException);
  EXPECT_EQ(key, g(10)) << "a failed step leaves the key";
  ASSERT_TRUE(t->membershipIterNext(key, hint));
  EXPECT_EQ(key, g(20));
}

// ---- writes and removals -----------------------------------------------------------------------

TEST(StatusWrites, RemovingTheEntryAWalkStandsOnRemovesExactlyIt) {
  auto t = tableOf({10, 20, 30, 40});
  RouteIntfKey key;
  IterHint hint;
  Octets seen;
  while (t->membershipIterNext(key, hint)) {
    seen.push_back(octetOf(key));
    if (octetOf(key) == 20) add(*t, 25);  // a write keeps the position good
    if (octetOf(key) != 30) {
      ASSERT_TRUE(t->membershipDel(key));
    }
  }
  EXPECT_EQ(seen, (Octets{10, 20, 25, 30, 40}));
  ASSERT_EQ(t->entries().size(), 1u);
  EXPECT_EQ(t->entries().begin()->first, g(30));
}

// Writes and overwrites, removals anywhere or in key order (a cleanup), two
// walks whose steps remove what they reach, jump to another key or start
// over, and bursts that grow or shrink the table (and drop or rebuild the
// walk's sorted keys) between two steps of a walk; every answer is checked
// against a plain map. In process (with IPv4 keys, then with IPv6 ones
// mixed in: the walk sorts either kind its own way), and over a small shared
// segment that overflows and catches up.
enum class Run { inProcess, mixedFamilies, sharedSegment };
class StatusRandomized : public ::testing::TestWithParam<Run> {};

TEST_P(StatusRandomized, AgreesWithAnOrderedMap) {
  std::string const segment = "mcinject-test-" + std::to_string(::getpid()) + "-status";
  // Undone however the test ends (a failed assertion returns early): the
  // segment, and the reporter, which refers to a local.
  struct Cleanup {
    std::string name;
    ~Cleanup() {
      Brim::BrimMapBase::reporterIs(nullptr);
      ::shm_unlink(("/" + name).c_str());
    }
  } const cleanup{segment};
  std::size_t const capacity = 300;
  std::size_t reports = 0;
  Brim::BrimMapBase::reporterIs([&](std::string const&, std::string const&) { ++reports; });
  bool const shared = GetParam() == Run::sharedSegment, mixed = GetParam() == Run::mixedFamilies;
  auto t = shared ? Status::statusIs(segment, {.capacity = capacity}) : Status::statusIs();
  Routing::Gmp::Brim::StatusEntries model;
  struct Walk {
    RouteIntfKey key;
    IterHint hint;
  } walks[2];
  unsigned x = 2024;
  auto next = [&](unsigned n) {
    x = x * 1103515245u + 12345u;
    return (x >> 8) % n;
  };
  // Key n: group 225.1.(n / 400).(n / 2 % 200) on VLAN 1 or 2, some with a
  // source; mixed: every seventh an IPv6 group.
  auto k = [&](unsigned n) {
    if (mixed && n % 7 == 0) return TestSupport::joinKey("::", "ff3e::" + std::to_string(n), 2);
    return TestSupport::joinKey(n % 5 ? "0.0.0.0" : "10.0.0.1",
                                "225.1." + std::to_string(n / 400) + "." + std::to_string(n / 2 % 200),
                                static_cast<unsigned short>(1 + n % 2));
  };
  auto anyPresent = [&] { return std::next(model.begin(), next(static_cast<unsigned>(model.size())))->first; };
  for (int step = 0; step < 8000; ++step) {
    SCOPED_TRACE(step);
    unsigned const op = next(50);
    RouteIntfKey const key = k(next(1500));
    if (op < 15) {
      auto const value = static_cast<std::uint32_t>(1 + next(2));
      bool const fresh = !model.count(key);
      EXPECT_EQ(t->membershipIs(Membership{key, value}), fresh);
      model[key] = value;
    } else if (op < 22) {
      bool const present = model.erase(key) > 0;
      EXPECT_EQ(t->membershipDel(key), present);
    } else if (op < 25) {  // the entries after the one removed last
      for (auto it = model.upper_bound(key); it != model.end() && next(3);) {
        RouteIntfKey const gone = it->first;
        it = model.erase(it);
        EXPECT_TRUE(t->membershipDel(gone));
      }
    } else if (op < 48) {  // a step of one of the walks
      Walk& w = walks[next(2)];
      unsigned const how = next(16);
      if (how == 0) w.key = key;  // the key jumps, the hint stays
      if (how == 1) w = Walk{key, IterHint()};
      auto const want = w.hint.started ? model.upper_bound(w.key) : model.lower_bound(w.key);
      RouteIntfKey const before = w.key;
      bool const got = t->membershipIterNext(w.key, w.hint);
      ASSERT_EQ(got, want != model.end());
      if (!got) {
        EXPECT_EQ(w.key, before) << "the end leaves the key";
        w = Walk();
      } else {
        ASSERT_EQ(w.key, want->first);
        if (next(2)) {
          model.erase(want);
          EXPECT_TRUE(t->membershipDel(w.key));
        }
      }
    } else if (op == 48) {  // growth between two steps
      for (int i = 0; i < 400; ++i) {
        RouteIntfKey const n = k(next(1500));
        EXPECT_EQ(t->membershipIs(Membership{n, 1}), model.insert_or_assign(n, 1).second);
      }
    } else if (!model.empty()) {  // shrinking between two steps
      for (int i = 0; i < 400 && !model.empty(); ++i) {
        RouteIntfKey const gone = anyPresent();
        model.erase(gone);
        EXPECT_TRUE(t->membershipDel(gone));
      }
    }
    ASSERT_EQ(t->membershipCount(), model.size());
    EXPECT_EQ(t->membership(key), model.count(key) ? std::optional(Membership{key, model[key]}) : std::nullopt);
    if (t->segment()) {
      ASSERT_EQ(t->segmentOverflow(), model.size() - std::min(model.size(), capacity));
    }
    if (step % 100 == 0) {
      ASSERT_EQ(t->entries(), model);
    }
  }
  if (t->segment()) {
    auto const inSegment = Routing::Gmp::Brim::SegmentReader::open(segment)->snapshot();
    EXPECT_EQ(inSegment.size(), std::min(model.size(), capacity));
    for (Membership const& m : inSegment) EXPECT_EQ(t->membership(m.key), m);
    EXPECT_EQ(reports, t->corruptionsDetected()) << "every overflow reported, nothing else";
  }
}

std::string runName(::testing::TestParamInfo<Run> const& info) {
  char const* const names[] = {"InProcess", "MixedFamilies", "SharedSegment"};
  return names[static_cast<int>(info.param)];
}
INSTANTIATE_TEST_SUITE_P(Runs, StatusRandomized,
                         ::testing::Values(Run::inProcess, Run::mixedFamilies, Run::sharedSegment), runName);

}  // namespace
