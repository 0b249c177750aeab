// Keyed collections: sorted walks that must survive the collection changing
// under them — the current element, the next one, or all of them removed,
// elements added ahead of and behind the cursor.
#include "Vorn/Collection.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Vorn/Ptr.h"
#include "Vorn/String.h"

namespace {

using Map = Vorn::KeyedMap<int, int>;
using Set = Vorn::KeyedSet<int>;
using Keys = std::vector<int>;

Map mapOf(Keys const& keys) {
  Map m;
  for (int k : keys) m.set(k, k * 10);
  return m;
}
Set setOf(Keys const& keys) {
  Set s;
  for (int k : keys) s.insert(k);
  return s;
}

int keyOf(Map::value_type const& e) { return e.first; }
int keyOf(int k) { return k; }

// Walks from `it` to the end, calling `step` with each key after recording
// it; returns the keys visited.
template <class C>
Keys walk(C const& c, typename C::Iterator it, std::function<void(int)> const& step = {}) {
  Keys seen;
  for (; it != c.end(); ++it) {
    int const k = keyOf(*it);
    seen.push_back(k);
    if (step) step(k);
  }
  return seen;
}
template <class C>
Keys walk(C const& c, std::function<void(int)> const& step = {}) {
  return walk(c, c.begin(), step);
}
template <class C>
Keys contents(C const& c) {
  return walk(c);
}

TEST(KeyedMapTest, WalksInKeyOrderWhateverTheInsertionOrder) {
  Map m = mapOf({5, 1, 9, 3});
  EXPECT_EQ(contents(m), (Keys{1, 3, 5, 9}));
  Keys values;
  for (auto const& [k, v] : m) values.push_back(v);
  EXPECT_EQ(values, (Keys{10, 30, 50, 90}));
  ASSERT_NE(m.firstKey(), nullptr);
  EXPECT_EQ(*m.firstKey(), 1);
  EXPECT_EQ(Map().firstKey(), nullptr);
  EXPECT_TRUE(Map().begin() == Map().end());
}

TEST(KeyedMapTest, WalkCanStartFromAKey) {
  Map m = mapOf({2, 4, 6, 8});
  EXPECT_EQ(walk(m, m.lowerBound(5)), (Keys{6, 8}));
  EXPECT_EQ(walk(m, m.lowerBound(6)), (Keys{6, 8}));
  EXPECT_EQ(walk(m, m.upperBound(6)), (Keys{8}));
  EXPECT_EQ(walk(m, m.lowerBound(0)), (Keys{2, 4, 6, 8}));
  EXPECT_TRUE(m.lowerBound(9) == m.end());
  EXPECT_TRUE(m.upperBound(8) == nullptr);
}

TEST(KeyedMapTest, ErasingTheCurrentElementContinuesWithTheNext) {
  Map m = mapOf({1, 3, 5, 9});
  EXPECT_EQ(walk(m, [&](int k) { if (k == 3) m.erase(3); }), (Keys{1, 3, 5, 9}));
  EXPECT_EQ(contents(m), (Keys{1, 5, 9}));
}

TEST(KeyedMapTest, ErasingEachElementAsItIsVisitedEmptiesTheMap) {
  Map m = mapOf({1, 3, 5, 9});
  Keys seen;
  for (auto const& [k, v] : m) {
    int const key = k;  // the element goes with the erase: copy first
    seen.push_back(key);
    EXPECT_TRUE(m.take(key).has_value());
  }
  EXPECT_EQ(seen, (Keys{1, 3, 5, 9}));
  EXPECT_TRUE(m.empty());
}

TEST(KeyedMapTest, ErasingTheNextElementSkipsIt) {
  Map m = mapOf({1, 3, 5, 9});
  EXPECT_EQ(walk(m, [&](int k) { if (k == 3) m.erase(5); }), (Keys{1, 3, 9}));
}

TEST(KeyedMapTest, ErasingTheCurrentAndTheNextTogether) {
  Map m = mapOf({1, 3, 5, 9});
  EXPECT_EQ(walk(m, [&](int k) {
              if (k != 3) return;
              m.erase(3);
              m.erase(5);
            }),
            (Keys{1, 3, 9}));
}

TEST(KeyedMapTest, ErasingAnEarlierElementDoesNotDisturbTheWalk) {
  Map m = mapOf({1, 3, 5, 9});
  EXPECT_EQ(walk(m, [&](int k) { if (k == 5) m.erase(1); }), (Keys{1, 3, 5, 9}));
}

TEST(KeyedMapTest, ErasingEveryElementEndsTheWalk) {
  Map m = mapOf({1, 3, 5, 9});
  EXPECT_EQ(walk(m, [&](int) {
              for (int k : {1, 3, 5, 9}) m.erase(k);
            }),
            (Keys{1}));
  EXPECT_TRUE(m.empty());
  // Emptied from the last element as well.
  m = mapOf({1, 3});
  EXPECT_EQ(walk(m, [&](int k) { if (k == 3) { m.erase(1); m.erase(3); } }), (Keys{1, 3}));
}

TEST(KeyedMapTest, InsertingAheadOfTheCursorIsVisitedBehindIsNot) {
  Map m = mapOf({1, 3, 5, 9});
  EXPECT_EQ(walk(m, [&](int k) {
              if (k != 3) return;
              m.set(4, 0);
              m.set(0, 0);
            }),
            (Keys{1, 3, 4, 5, 9}));
  // The same when the walk has to resume by key after a removal.
  m = mapOf({1, 3, 5, 9});
  EXPECT_EQ(walk(m, [&](int k) {
              if (k != 3) return;
              m.erase(3);
              m.set(2, 0);
              m.set(4, 0);
            }),
            (Keys{1, 3, 4, 5, 9}));
}

TEST(KeyedMapTest, ErasingAndReinsertingTheCurrentKeyDoesNotRevisitIt) {
  Map m = mapOf({1, 3, 5});
  EXPECT_EQ(walk(m, [&](int k) {
              if (k != 3) return;
              m.erase(3);
              m.set(3, 33);
            }),
            (Keys{1, 3, 5}));
  EXPECT_EQ(*m.find(3), 33);
}

// Handlers run mid-walk often read the element again after calling code that
// removed it; that read must not make the walk lose the next element.
TEST(KeyedMapTest, ReadingTheCursorAfterItsElementWentDoesNotSkipTheNext) {
  Map m = mapOf({1, 3, 5, 9});
  Keys heads;
  for (auto it = m.begin(); it != m.end(); ++it) {
    int const k = it->first;
    heads.push_back(k);
    if (k == 3) {
      m.erase(3);
      EXPECT_EQ(it->first, 5) << "the cursor resumes at the element that follows";
    }
  }
  EXPECT_EQ(heads, (Keys{1, 3, 5, 9}));
}

TEST(KeyedMapTest, ReadingTheCursorAfterAnotherElementWentKeepsItsPlace) {
  Map m = mapOf({1, 3, 5, 9});
  Keys heads;
  for (auto it = m.begin(); it != m.end(); ++it) {
    heads.push_back(it->first);
    if (it->first == 3) {
      m.erase(1);
      m.erase(5);
      EXPECT_EQ(it->first, 3);
      EXPECT_EQ(it->second, 30);
    }
  }
  EXPECT_EQ(heads, (Keys{1, 3, 9}));
}

TEST(KeyedMapTest, TwoCursorsBothSurviveARemoval) {
  Map m = mapOf({1, 3, 5, 9});
  auto a = m.lowerBound(3);
  auto b = m.lowerBound(5);
  m.erase(3);
  m.erase(5);
  ++a;
  ++b;
  EXPECT_EQ(a->first, 9);
  EXPECT_EQ(b->first, 9);
  EXPECT_TRUE(a == b);
}

TEST(KeyedMapTest, SetReportsOnlyEffectiveChanges) {
  Vorn::KeyedMap<int, std::string> m;
  EXPECT_TRUE(m.set(1, "a"));
  EXPECT_FALSE(m.set(1, "a"));
  std::string const same = "a";
  EXPECT_FALSE(m.set(1, same));
  EXPECT_TRUE(m.set(1, std::string("b")));
  ASSERT_NE(m.find(1), nullptr);
  EXPECT_EQ(*m.find(1), "b");
  EXPECT_EQ(m.size(), 1u);
  // An unchanged set must leave a movable argument alone.
  std::string arg = "b";
  EXPECT_FALSE(m.set(1, std::move(arg)));
  EXPECT_EQ(arg, "b");
}

struct Probe : Vorn::PtrInterface {
  static inline int live = 0;
  static inline std::vector<int> seenOnRelease;
  static inline Vorn::KeyedMap<int, Vorn::Ptr<Probe>> const* watched = nullptr;
  explicit Probe(int i) : id(i) { ++live; }
  ~Probe() override {
    --live;
    // What the map holds under key 1 when this value is released.
    Vorn::Ptr<Probe> const* now = watched ? watched->find(1) : nullptr;
    seenOnRelease.push_back(now && *now ? (*now)->id : -1);
  }
  int id;
};

TEST(KeyedMapTest, ReplacedValueIsReleasedAfterTheNewOneIsIn) {
  Probe::live = 0;
  Probe::seenOnRelease.clear();
  {
    Vorn::KeyedMap<int, Vorn::Ptr<Probe>> m;
    Probe::watched = &m;
    Vorn::Ptr<Probe> first = Vorn::make<Probe>(1);
    EXPECT_TRUE(m.set(1, first));
    EXPECT_FALSE(m.set(1, first));
    EXPECT_EQ(first->references(), 2u);
    first = nullptr;
    EXPECT_TRUE(m.set(1, Vorn::make<Probe>(2)));
    EXPECT_EQ(Probe::seenOnRelease, (std::vector<int>{2}));
    EXPECT_EQ(Probe::live, 1);

    std::optional<Vorn::Ptr<Probe>> taken = m.take(1);
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ((*taken)->references(), 1u) << "take hands over the reference";
    EXPECT_FALSE(m.contains(1));
    taken.reset();
    EXPECT_EQ(Probe::live, 0);

    // A value released by erase sees the map without it.
    m.set(1, Vorn::make<Probe>(3));
    Probe::seenOnRelease.clear();
    EXPECT_TRUE(m.erase(1));
    EXPECT_EQ(Probe::seenOnRelease, (std::vector<int>{-1}));
    Probe::watched = nullptr;
  }
  EXPECT_EQ(Probe::live, 0);
}

TEST(KeyedMapTest, TakeReturnsTheValueOrNothing) {
  Map m = mapOf({1, 2});
  std::optional<int> v = m.take(2);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(*v, 20);
  EXPECT_FALSE(m.take(2).has_value());
  EXPECT_FALSE(m.erase(2));
  EXPECT_TRUE(m.erase(1));
  EXPECT_TRUE(m.empty());
}

TEST(KeyedMapTest, ChangingAValueInPlaceDoesNotDisturbTheWalk) {
  Map m = mapOf({1, 3, 5});
  EXPECT_EQ(walk(m, [&](int k) { *m.find(k) += 1; }), (Keys{1, 3, 5}));
  EXPECT_EQ(*m.find(5), 51);
}

TEST(KeyedMapTest, StringKeysSortAsText) {
  Vorn::KeyedMap<Vorn::String, int> m;
  m.set("vlan20", 2);
  m.set("Vlan10", 1);
  m.set("vlan100", 3);
  std::vector<std::string> order;
  for (auto const& [k, v] : m) order.push_back(k.stdString());
  EXPECT_EQ(order, (std::vector<std::string>{"Vlan10", "vlan100", "vlan20"}));
  EXPECT_NE(m.find(Vorn::String("vlan20")), nullptr);
  EXPECT_EQ(m.find(Vorn::String("vlan2")), nullptr);
}

TEST(KeyedSetTest, InsertAndEraseReportWhetherTheyChangedIt) {
  Set s;
  EXPECT_TRUE(s.insert(4));
  EXPECT_FALSE(s.insert(4));
  EXPECT_TRUE(s.insert(2));
  EXPECT_EQ(contents(s), (Keys{2, 4}));
  EXPECT_TRUE(s.erase(4));
  EXPECT_FALSE(s.erase(4));
  EXPECT_EQ(s.size(), 1u);
  EXPECT_TRUE(s.contains(2));
  EXPECT_FALSE(s.contains(4));
}

TEST(KeyedSetTest, WalkCanStartFromAKey) {
  Set s = setOf({8, 2, 6, 4});
  EXPECT_EQ(contents(s), (Keys{2, 4, 6, 8}));
  EXPECT_EQ(walk(s, s.lowerBound(3)), (Keys{4, 6, 8}));
  EXPECT_EQ(walk(s, s.upperBound(4)), (Keys{6, 8}));
  EXPECT_TRUE(s.lowerBound(9) == s.end());
}

TEST(KeyedSetTest, WalkSurvivesRemovalsAndInsertions) {
  Set s = setOf({1, 3, 5, 9});
  EXPECT_EQ(walk(s, [&](int k) { if (k == 3) s.erase(3); }), (Keys{1, 3, 5, 9}));
  s = setOf({1, 3, 5, 9});
  EXPECT_EQ(walk(s, [&](int k) { if (k == 3) s.erase(5); }), (Keys{1, 3, 9}));
  s = setOf({1, 3, 5, 9});
  EXPECT_EQ(walk(s, [&](int) { for (int k : {1, 3, 5, 9}) s.erase(k); }), (Keys{1}));
  s = setOf({1, 3, 5, 9});
  EXPECT_EQ(walk(s, [&](int k) {
              if (k != 3) return;
              s.erase(3);
              s.insert(0);
              s.insert(7);
            }),
            (Keys{1, 3, 5, 7, 9}));
  s = setOf({1, 3, 5});
  Keys heads;
  for (auto it = s.begin(); it != s.end(); ++it) {
    heads.push_back(*it);
    if (*it == 1) {
      s.erase(1);
      EXPECT_EQ(*it, 3);
    }
  }
  EXPECT_EQ(heads, (Keys{1, 3, 5}));
}

}  // namespace
