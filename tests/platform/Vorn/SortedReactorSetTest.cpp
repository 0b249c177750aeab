// The compact reactor set: order and reference counts through growth and
// shrinking, replacement under a key, and a walk whose callback changes the set.
#include "Vorn/SortedReactorSet.h"

#include <gtest/gtest.h>

#include <vector>

#include "Vorn/Ptr.h"

namespace {

struct Numbered : Vorn::PtrInterface {
  explicit Numbered(int k) : key(k) {}
  int key;
};
struct NumberOf {
  int operator()(Numbered const& n) const noexcept { return n.key; }
};
using NumberedSet = Vorn::SortedReactorSet<Numbered, int, NumberOf>;

std::vector<int> keysOf(NumberedSet const& set) {
  std::vector<int> out;
  for (Numbered* n : set) out.push_back(n->key);
  return out;
}

TEST(SortedReactorSet, KeepsKeyOrderAndEveryReferenceThroughGrowthAndShrinking) {
  std::vector<Vorn::Ptr<Numbered>> all;
  for (int k : {50, 10, 90, 30, 70, 20, 80, 40, 60, 0}) all.push_back(Vorn::make<Numbered>(k));
  NumberedSet set;
  for (auto const& n : all) {
    set.set(n);
    EXPECT_EQ(n->references(), 2u) << "the set holds one reference";
  }
  EXPECT_EQ(keysOf(set), (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90}));
  for (auto const& n : all) EXPECT_EQ(set.find(n->key), n.ptr());
  EXPECT_EQ(set.find(45), nullptr);
  // Down from the middle and both ends, to one and to none.
  for (int k : {50, 0, 90, 20, 70, 30, 80, 10, 60}) {
    Vorn::Ptr<Numbered> const taken = set.take(k);
    ASSERT_TRUE(taken) << k;
    EXPECT_EQ(taken->key, k);
    EXPECT_EQ(taken->references(), 2u) << "the set's reference went to the caller";
    EXPECT_EQ(set.take(k), nullptr) << k;
  }
  EXPECT_EQ(keysOf(set), (std::vector<int>{40}));
  EXPECT_EQ(set.take(40)->key, 40);
  EXPECT_TRUE(set.empty());
  for (auto const& n : all) EXPECT_EQ(n->references(), 1u) << n->key;
}

TEST(SortedReactorSet, ReplacingUnderAKeyReleasesTheOldReactorOnlyOnce) {
  auto a = Vorn::make<Numbered>(5);
  auto b = Vorn::make<Numbered>(5);
  auto c = Vorn::make<Numbered>(7);
  NumberedSet set;
  set.set(a);
  set.set(b);  // one element: replaced in the word
  EXPECT_EQ(set.find(5), b.ptr());
  EXPECT_EQ(a->references(), 1u);
  set.set(c);
  set.set(a);  // two elements: replaced in its slot
  EXPECT_EQ(keysOf(set), (std::vector<int>{5, 7}));
  EXPECT_EQ(set.find(5), a.ptr());
  EXPECT_EQ(b->references(), 1u);
  set.set(a);  // the same reactor again changes nothing
  EXPECT_EQ(a->references(), 2u);
  set.clear();
  EXPECT_EQ(a->references(), 1u);
  EXPECT_EQ(c->references(), 1u);
}

TEST(SortedReactorSet, WalkSurvivesRemovalAndInsertionByItsCallback) {
  NumberedSet set;
  for (int k : {1, 2, 3, 4, 5, 6}) set.set(Vorn::make<Numbered>(k));
  std::vector<int> visited;
  set.walk([&](Vorn::Ptr<Numbered> const& n) {
    visited.push_back(n->key);
    if (n->key == 2) {
      set.take(3);
      set.take(2);  // the current one: still held by the walk
      EXPECT_EQ(n->references(), 1u);
      set.set(Vorn::make<Numbered>(10));
      set.set(Vorn::make<Numbered>(0));  // behind the walk: not visited
    }
    if (n->key == 5) {
      set.take(1);  // behind: the walk goes on after 5
      set.take(4);
    }
  });
  EXPECT_EQ(visited, (std::vector<int>{1, 2, 4, 5, 6, 10}));
  EXPECT_EQ(keysOf(set), (std::vector<int>{0, 5, 6, 10}));
}

TEST(SortedReactorSet, ReservedRoomServesInsertsAndEmptiesCleanly) {
  NumberedSet set;
  set.reserve(8);
  EXPECT_TRUE(set.empty());
  EXPECT_EQ(set.first(), nullptr);
  set.set(Vorn::make<Numbered>(3));
  EXPECT_EQ(set.size(), 1u);
  EXPECT_EQ(set.take(3)->key, 3);
  EXPECT_TRUE(set.empty());
  for (int k : {9, 1, 5}) set.set(Vorn::make<Numbered>(k));
  set.reserve(2);  // less than present: nothing changes
  EXPECT_EQ(keysOf(set), (std::vector<int>{1, 5, 9}));
}

}  // namespace
