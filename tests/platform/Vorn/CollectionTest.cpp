// Keyed collections: sorted walks that must survive the collection changing
// under them — the current element, the next one, or all of them removed,
// elements added ahead of and behind the cursor.
#include "Vorn/Collection.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Vorn/FlatHashIndex.h"
#include "Vorn/Ptr.h"
#include "Vorn/String.h"

namespace {

using Map = Vorn::KeyedMap<int, int>;
using HashedMap = Vorn::HashedKeyedMap<int, int>;
using Set = Vorn::KeyedSet<int>;
using Keys = std::vector<int>;

void put(Map& m, int k) { m.set(k, k * 10); }
void put(HashedMap& m, int k) { m.set(k, k * 10); }
void put(Set& s, int k) { s.insert(k); }
int keyOf(Map::value_type const& e) { return e.first; }
int keyOf(int k) { return k; }

template <class C>
C collectionOf(Keys const& keys) {
  C c;
  for (int k : keys) put(c, k);
  return c;
}

// The keys from `it` to the end.
template <class C>
Keys walk(C const& c, typename C::Iterator it) {
  Keys seen;
  for (; it != c.end(); ++it) seen.push_back(keyOf(*it));
  return seen;
}
template <class C>
Keys contents(C const& c) {
  return walk(c, c.begin());
}

constexpr int kEvery = -1;    // act at every key
constexpr int kCurrent = -2;  // the key being visited

// A walk that, at key `at`, erases then inserts some keys.
struct Mutation {
  char const* name;
  Keys start;
  int at;
  Keys erase;
  Keys insert;
  Keys visited;
  Keys after;
};

Mutation const mutations[] = {
    {"erase current", {1, 3, 5, 9}, 3, {kCurrent}, {}, {1, 3, 5, 9}, {1, 5, 9}},
    {"erase each as visited", {1, 3, 5, 9}, kEvery, {kCurrent}, {}, {1, 3, 5, 9}, {}},
    {"erase next", {1, 3, 5, 9}, 3, {5}, {}, {1, 3, 9}, {1, 3, 9}},
    {"erase current and next", {1, 3, 5, 9}, 3, {3, 5}, {}, {1, 3, 9}, {1, 9}},
    {"erase earlier", {1, 3, 5, 9}, 5, {1}, {}, {1, 3, 5, 9}, {3, 5, 9}},
    {"erase all at the first", {1, 3, 5, 9}, 1, {1, 3, 5, 9}, {}, {1}, {}},
    {"erase all at the last", {1, 3}, 3, {1, 3}, {}, {1, 3}, {}},
    {"insert ahead and behind", {1, 3, 5, 9}, 3, {}, {4, 0}, {1, 3, 4, 5, 9}, {0, 1, 3, 4, 5, 9}},
    // The cursor's element is the first one left: the walk still goes on after it.
    {"erase all earlier", {1, 3, 5}, 3, {1}, {}, {1, 3, 5}, {3, 5}},
    // The walk has to resume by key after the removal.
    {"erase current, insert around", {1, 3, 5, 9}, 3, {3}, {2, 4}, {1, 3, 4, 5, 9}, {1, 2, 4, 5, 9}},
    {"erase and reinsert current", {1, 3, 5}, 3, {3}, {3}, {1, 3, 5}, {1, 3, 5}},
};

template <class C>
void checkMutations() {
  for (Mutation const& m : mutations) {
    SCOPED_TRACE(m.name);
    C c = collectionOf<C>(m.start);
    Keys seen;
    for (auto it = c.begin(); it != c.end(); ++it) {
      int const k = keyOf(*it);  // the element may go: copy first
      seen.push_back(k);
      if (m.at != kEvery && m.at != k) continue;
      for (int e : m.erase) c.erase(e == kCurrent ? k : e);
      for (int i : m.insert) put(c, i);
    }
    EXPECT_EQ(seen, m.visited);
    EXPECT_EQ(contents(c), m.after);
  }
}

// Handlers run mid-walk often read the element again after calling code that
// removed it; that read must not make the walk lose the next element.
template <class C>
void checkReadAfterRemoval() {
  C c = collectionOf<C>({1, 3, 5, 9});
  Keys heads;
  for (auto it = c.begin(); it != c.end(); ++it) {
    int const k = keyOf(*it);
    heads.push_back(k);
    if (k == 3) {
      c.erase(3);
      EXPECT_EQ(keyOf(*it), 5) << "the cursor resumes at the element that follows";
    }
  }
  EXPECT_EQ(heads, (Keys{1, 3, 5, 9}));
}

template <class C>
void checkOrderAndBounds() {
  C c = collectionOf<C>({8, 2, 6, 4});
  EXPECT_EQ(contents(c), (Keys{2, 4, 6, 8}));
  ASSERT_NE(c.firstKey(), nullptr);
  EXPECT_EQ(*c.firstKey(), 2);
  EXPECT_EQ(walk(c, c.lowerBound(5)), (Keys{6, 8}));
  EXPECT_EQ(walk(c, c.lowerBound(6)), (Keys{6, 8}));
  EXPECT_EQ(walk(c, c.upperBound(6)), (Keys{8}));
  EXPECT_EQ(walk(c, c.lowerBound(0)), (Keys{2, 4, 6, 8}));
  EXPECT_TRUE(c.lowerBound(9) == c.end());
  EXPECT_TRUE(c.upperBound(8) == nullptr);
  C const empty;
  EXPECT_EQ(empty.firstKey(), nullptr);
  EXPECT_TRUE(empty.begin() == empty.end());
}

TEST(KeyedCollectionTest, WalksInKeyOrderFromAnyStartingKey) {
  checkOrderAndBounds<Map>();
  checkOrderAndBounds<HashedMap>();
  checkOrderAndBounds<Set>();
  Keys values;
  for (auto const& [k, v] : collectionOf<Map>({5, 1, 9})) values.push_back(v);
  EXPECT_EQ(values, (Keys{10, 50, 90}));
}

TEST(KeyedCollectionTest, WalkSurvivesRemovalsAndInsertionsAroundTheCursor) {
  checkMutations<Map>();
  checkMutations<HashedMap>();
  checkMutations<Set>();
}

TEST(KeyedCollectionTest, ReadingTheCursorAfterItsElementWentDoesNotSkipTheNext) {
  checkReadAfterRemoval<Map>();
  checkReadAfterRemoval<HashedMap>();
  checkReadAfterRemoval<Set>();
}

// The hash index must name exactly the map's elements after any sequence of
// changes, in copies and in moved-to maps too (a stale index entry would
// point into freed or foreign nodes: ASan sees it).
TEST(HashedKeyedMapTest, LookupsAgreeWithTheSortedElementsThroughChangesCopiesAndMoves) {
  HashedMap m;
  std::map<int, int> want;
  std::uint32_t x = 7;
  auto check = [&](HashedMap const& c, char const* where) {
    SCOPED_TRACE(where);
    ASSERT_EQ(c.size(), want.size());
    for (int k = 0; k < 64; ++k) {
      auto it = want.find(k);
      int const* got = c.find(k);
      ASSERT_EQ(got != nullptr, it != want.end()) << "key " << k;
      if (got) {
        EXPECT_EQ(*got, it->second) << "key " << k;
      }
    }
  };
  for (int step = 0; step < 2000; ++step) {
    x = x * 1103515245u + 12345u;
    int const k = static_cast<int>((x >> 8) % 64);
    if ((x >> 20) % 3 == 0) {
      EXPECT_EQ(m.erase(k), want.erase(k) == 1);
    } else {
      int const v = static_cast<int>((x >> 4) % 5);
      auto [it, inserted] = want.try_emplace(k, v);
      bool const changed = inserted || it->second != v;
      it->second = v;
      EXPECT_EQ(m.set(k, v), changed);
    }
    if (step % 50 == 0) check(m, "running");
  }
  check(m, "after the changes");
  HashedMap copy(m);
  m.erase(*m.firstKey());  // the copy must not share the original's nodes
  check(copy, "copy");
  HashedMap assigned;
  assigned = copy;
  HashedMap moved(std::move(copy));
  check(moved, "moved");
  check(assigned, "assigned");
  moved.set(100, 1);
  EXPECT_NE(moved.find(100), nullptr);
  EXPECT_EQ(assigned.find(100), nullptr);
}

TEST(KeyedMapTest, ReadingTheCursorAfterAnotherElementWentKeepsItsPlace) {
  Map m = collectionOf<Map>({1, 3, 5, 9});
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

// Inserts placed from the previous insert's position must land exactly where
// a search would put them, through runs, duplicates, removals and copies.
TEST(KeyedSetTest, InsertsInRunsMatchASortedSetThroughRemovalsAndCopies) {
  Set set;
  std::set<int> want;
  std::uint32_t x = 11;
  for (int step = 0; step < 3000; ++step) {
    x = x * 1103515245u + 12345u;
    int const op = static_cast<int>((x >> 16) % 10);
    int const k = static_cast<int>((x >> 4) % 200);
    if (op < 6) {
      for (int run = k; run < k + 5; ++run) EXPECT_EQ(set.insert(run), want.insert(run).second) << run;
    } else if (op < 9) {
      EXPECT_EQ(set.erase(k), want.erase(k) == 1) << k;
    } else {
      Set copy(set);
      set = copy;  // the position must not follow the copy
    }
  }
  EXPECT_EQ(contents(set), Keys(want.begin(), want.end()));
}

// Removal shifts later slots of a run back; with few distinct hashes the runs
// are long and wrap around the end of the array, where an off-by-one in the
// shift loses or duplicates entries.
struct FewHashes {
  std::size_t operator()(int k) const noexcept { return static_cast<std::size_t>(k % 3); }
};
struct Boxed {
  int key;
};
struct BoxedKey {
  int const& operator()(Boxed const* b) const noexcept { return b->key; }
};

TEST(FlatHashIndexTest, FindsExactlyTheInsertedHandlesThroughLongWrappingRuns) {
  std::vector<Boxed> boxes(48);
  for (int k = 0; k < 48; ++k) boxes[static_cast<std::size_t>(k)].key = k;
  Vorn::FlatHashIndex<int, Boxed*, BoxedKey, FewHashes> index;
  std::set<int> want;
  std::uint32_t x = 11;
  for (int step = 0; step < 4000; ++step) {
    x = x * 1103515245u + 12345u;
    int const k = static_cast<int>((x >> 8) % 48);
    if (want.count(k)) {
      ASSERT_TRUE(index.erase(k));
      want.erase(k);
    } else {
      index.insert(&boxes[static_cast<std::size_t>(k)]);
      want.insert(k);
    }
    ASSERT_EQ(index.size(), want.size());
    for (int q = 0; q < 48; ++q) {
      Boxed* const* got = index.find(q);
      ASSERT_EQ(got != nullptr, want.count(q) == 1) << "step " << step << " key " << q;
      if (got) {
        ASSERT_EQ((*got)->key, q);
      }
    }
  }
  int seen = 0;
  index.forEach([&](Boxed* b) { seen += want.count(b->key) ? 1 : 100; });
  EXPECT_EQ(seen, static_cast<int>(want.size()));
}

}  // namespace
