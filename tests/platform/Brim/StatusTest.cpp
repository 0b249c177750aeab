// The GMP membership status table's walk: a step moves on from the position
// the hint holds, or from the successor of the entry just removed, when it
// can, and must answer exactly what a search from the key would, whatever
// happened to the table, the key or the hint in between.
#include "Brim/Status.h"

#include <gtest/gtest.h>

#include <map>
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

TEST(StatusWrites, RemovalsAgreeWithAnOrderedMapWhateverTheOrder) {
  // Runs of removals in key order (the entry after the last one removed),
  // removals of the entry a walk step reached, and removals and writes
  // anywhere, mixed; each answer is checked against a plain map.
  auto t = Status::statusIs();
  Routing::Gmp::Brim::StatusEntries model;
  RouteIntfKey key;
  IterHint hint;
  unsigned x = 2024;
  auto next = [&](unsigned n) {
    x = x * 1103515245u + 12345u;
    return (x >> 16) % n;
  };
  for (int step = 0; step < 5000; ++step) {
    SCOPED_TRACE(step);
    int const n = static_cast<int>(next(40));
    switch (next(5)) {
      case 0:
      case 1: {
        bool const fresh = !model.count(g(n));
        EXPECT_EQ(t->membershipIs(Membership{g(n), 1}), fresh);
        model[g(n)] = 1;
        break;
      }
      case 2: {
        bool const present = model.erase(g(n)) > 0;
        EXPECT_EQ(t->membershipDel(g(n)), present);
        break;
      }
      case 3: {  // the entry after the one removed last, if any
        auto it = model.upper_bound(g(n));
        if (it == model.end()) break;
        RouteIntfKey const k = it->first;
        model.erase(it);
        EXPECT_TRUE(t->membershipDel(k));
        if (auto after = model.upper_bound(k); after != model.end()) {
          RouteIntfKey const k2 = after->first;
          model.erase(after);
          EXPECT_TRUE(t->membershipDel(k2));
        }
        break;
      }
      case 4: {  // a walk step, and maybe the removal of what it reached
        if (!t->membershipIterNext(key, hint)) {
          hint = IterHint();
          key = RouteIntfKey();
          break;
        }
        if (next(2) == 0) {
          model.erase(key);
          EXPECT_TRUE(t->membershipDel(key));
        }
        break;
      }
    }
    ASSERT_EQ(t->entries(), model);
  }
}

}  // namespace
