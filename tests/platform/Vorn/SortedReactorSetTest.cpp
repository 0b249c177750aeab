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

}  // namespace
