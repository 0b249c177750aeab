// The GMP membership status table's walk: a step moves on from the position
// the hint holds, or from the successor of the entry just removed, when it
// can, and must answer exactly what a search from the key would, whatever
// happened to the table, the key or the hint in between.
#include "Brim/Status.h"

#include <gtest/gtest.h>

#include <functional>
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

// What a step must answer: the search from `key` over the entries as they are.
std::optional<RouteIntfKey> searched(Status const& t, RouteIntfKey const& key, bool started) {
  auto const& e = t.entries();
  auto it = started ? e.upper_bound(key) : e.lower_bound(key);
  if (it == e.end()) return std::nullopt;
  return it->first;
}

// Walks `t`, running `midWalk` once right after step `atStep` (1-based) has
// reached its entry; checks every step against the search and returns the
// octets reached.
Octets walk(Status& t, int atStep, std::function<void(Status&, RouteIntfKey&, IterHint&)> const& midWalk) {
  RouteIntfKey key;
  IterHint hint;
  Octets seen;
  for (int step = 1; step < 100; ++step) {
    auto const want = searched(t, key, hint.started);
    bool const more = t.membershipIterNext(key, hint);
    EXPECT_EQ(more, want.has_value()) << "step " << step;
    if (!more) break;
    if (want) {
      EXPECT_EQ(key, *want) << "step " << step;
    }
    seen.push_back(octetOf(key));
    if (step == atStep) midWalk(t, key, hint);
  }
  return seen;
}

struct MidWalkCase {
  char const* name;
  int atStep;
  std::function<void(Status&, RouteIntfKey&, IterHint&)> midWalk;
  Octets want;
};

void del(Status& t, int n) { ASSERT_TRUE(t.membershipDel(g(n))); }
void add(Status& t, int n) { t.membershipIs(Membership{g(n), 1}); }

TEST(StatusWalk, ChangesMidWalkGiveWhatTheSearchGives) {
  // The table holds 10, 20, 30, 40, 50, 60 when each walk starts.
  std::vector<MidWalkCase> const cases = {
      {"nothing", 2, [](Status&, RouteIntfKey&, IterHint&) {}, {10, 20, 30, 40, 50, 60}},
      {"current removed", 2, [](Status& t, RouteIntfKey&, IterHint&) { del(t, 20); }, {10, 20, 30, 40, 50, 60}},
      {"next removed", 2, [](Status& t, RouteIntfKey&, IterHint&) { del(t, 30); }, {10, 20, 40, 50, 60}},
      {"earlier removed", 3, [](Status& t, RouteIntfKey&, IterHint&) { del(t, 10); }, {10, 20, 30, 40, 50, 60}},
      {"current and next removed", 2,
       [](Status& t, RouteIntfKey&, IterHint&) {
         del(t, 20);
         del(t, 30);
       },
       {10, 20, 40, 50, 60}},
      {"current removed and written again", 2,
       [](Status& t, RouteIntfKey&, IterHint&) {
         del(t, 20);
         add(t, 20);
       },
       {10, 20, 30, 40, 50, 60}},
      {"current removed, one written right after it", 2,
       [](Status& t, RouteIntfKey&, IterHint&) {
         del(t, 20);
         add(t, 25);
       },
       {10, 20, 25, 30, 40, 50, 60}},
      {"current removed, then one further on", 2,
       [](Status& t, RouteIntfKey&, IterHint&) {
         del(t, 20);
         del(t, 50);
       },
       {10, 20, 30, 40, 60}},
      {"current removed, then one before it", 3,
       [](Status& t, RouteIntfKey&, IterHint&) {
         del(t, 30);
         del(t, 10);
       },
       {10, 20, 30, 40, 50, 60}},
      {"everything from the current on removed", 2,
       [](Status& t, RouteIntfKey&, IterHint&) {
         for (int n : {20, 30, 40, 50, 60}) del(t, n);
       },
       {10, 20}},
      {"current removed and the key moved ahead", 2,
       [](Status& t, RouteIntfKey& key, IterHint&) {
         del(t, 20);
         key = g(45);
       },
       {10, 20, 50, 60}},
      {"current removed and the key moved back", 3,
       [](Status& t, RouteIntfKey& key, IterHint&) {
         del(t, 30);
         key = g(10);
       },
       {10, 20, 30, 20, 40, 50, 60}},
      {"written just after the position", 2, [](Status& t, RouteIntfKey&, IterHint&) { add(t, 21); },
       {10, 20, 21, 30, 40, 50, 60}},
      {"written before the position", 3, [](Status& t, RouteIntfKey&, IterHint&) { add(t, 15); },
       {10, 20, 30, 40, 50, 60}},
      {"written after the last", 6, [](Status& t, RouteIntfKey&, IterHint&) { add(t, 70); },
       {10, 20, 30, 40, 50, 60, 70}},
      {"every entry removed", 3,
       [](Status& t, RouteIntfKey&, IterHint&) {
         for (int n : {10, 20, 30, 40, 50, 60}) del(t, n);
       },
       {10, 20, 30}},
      {"key moved ahead to an entry", 2, [](Status&, RouteIntfKey& key, IterHint&) { key = g(40); },
       {10, 20, 50, 60}},
      {"key moved ahead between entries", 2, [](Status&, RouteIntfKey& key, IterHint&) { key = g(45); },
       {10, 20, 50, 60}},
      {"key moved back", 4, [](Status&, RouteIntfKey& key, IterHint&) { key = g(10); },
       {10, 20, 30, 40, 20, 30, 40, 50, 60}},
      {"key moved back, then the entry it left removed", 4,
       [](Status& t, RouteIntfKey& key, IterHint&) {
         key = g(20);
         del(t, 40);
       },
       {10, 20, 30, 40, 30, 50, 60}},
      {"hint replaced by a fresh one", 3, [](Status&, RouteIntfKey&, IterHint& hint) { hint = IterHint(); },
       {10, 20, 30, 30, 40, 50, 60}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = tableOf({10, 20, 30, 40, 50, 60});
    EXPECT_EQ(walk(*t, c.atStep, c.midWalk), c.want);
  }
}

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

TEST(StatusWalk, AHintOutlivingItsTableMatchesNoNewOne) {
  RouteIntfKey key;
  IterHint hint;
  {
    auto gone = tableOf({10, 20});
    ASSERT_TRUE(gone->membershipIterNext(key, hint));
    ASSERT_TRUE(gone->membershipIterNext(key, hint));
  }
  auto fresh = tableOf({20, 40});  // may take the old table's memory
  ASSERT_TRUE(fresh->membershipIterNext(key, hint));
  EXPECT_EQ(key, g(40));
  EXPECT_FALSE(fresh->membershipIterNext(key, hint));
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

TEST(StatusWrites, AWriteSaysWhetherItsKeyWasNew) {
  auto t = Status::statusIs();
  EXPECT_TRUE(t->membershipIs(Membership{g(1), 1}));
  EXPECT_FALSE(t->membershipIs(Membership{g(1), 1})) << "the same value again";
  EXPECT_FALSE(t->membershipIs(Membership{g(1), 2})) << "another value over it";
  EXPECT_EQ(t->membership(g(1))->value, 2u);
  ASSERT_TRUE(t->membershipDel(g(1)));
  EXPECT_TRUE(t->membershipIs(Membership{g(1), 1})) << "new again once removed";
  EXPECT_EQ(t->membershipIsCalls(), 4u);
}

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
