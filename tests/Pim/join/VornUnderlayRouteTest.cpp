// The Join handles of a mapping reactor: one inline, the rest in a vector,
// always in route order, and a handle is let go only once the collection is
// consistent again.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Brim/MembershipDedupTable.h"
#include "Pim/join/VornUnderlayRoute.h"
#include "support/Inputs.h"

namespace {

using Irb::Multicast::Egress::VornUnderlayRoute;
using Routing::Gmp::MembershipDeduped;
using Routing::Multicast::UnderlayRoute;
using Handle = VornUnderlayRoute::Handle;

// Route n: (10.0.0.n, 225.1.1.n); routes sort by n.
UnderlayRoute r(int n) {
  std::string const s = std::to_string(n);
  return TestSupport::route("10.0.0." + s, "225.1.1." + s);
}

Handle handle(int n) {
  return Vorn::make<MembershipDeduped>(TestSupport::joinKey("0.0.0.0", "225.1.1." + std::to_string(n), 10));
}

std::vector<int> order(VornUnderlayRoute const& c) {
  std::vector<int> out;
  for (auto const& [route, h] : c) {
    EXPECT_TRUE(h) << "a null handle is never held";
    out.push_back(static_cast<int>(route.source().v4Addr().value() & 0xffu));
  }
  return out;
}

TEST(L3VornUnderlayRoute, KeepsRoutesInOrderWhereverTheyAreAdded) {
  VornUnderlayRoute c;
  EXPECT_TRUE(c.empty());
  EXPECT_EQ(c.firstKey(), nullptr);
  for (int n : {5, 2, 9, 7, 1, 3}) EXPECT_TRUE(c.set(r(n), handle(n)));
  EXPECT_EQ(order(c), (std::vector<int>{1, 2, 3, 5, 7, 9}));
  EXPECT_EQ(c.size(), 6u);
  ASSERT_NE(c.firstKey(), nullptr);
  EXPECT_EQ(*c.firstKey(), r(1));
  std::vector<UnderlayRoute> const keys = c.keys();
  EXPECT_EQ(keys, (std::vector<UnderlayRoute>{r(1), r(2), r(3), r(5), r(7), r(9)}));
}

TEST(L3VornUnderlayRoute, FindsExactlyTheRoutesHeld) {
  VornUnderlayRoute c;
  Handle const h3 = handle(3);
  Handle const h8 = handle(8);
  c.set(r(3), h3);
  c.set(r(8), h8);
  ASSERT_NE(c.find(r(3)), nullptr);
  EXPECT_EQ(*c.find(r(3)), h3);
  ASSERT_NE(c.find(r(8)), nullptr);
  EXPECT_EQ(*c.find(r(8)), h8);
  for (int n : {1, 4, 9}) EXPECT_FALSE(c.contains(r(n))) << n;
  // Same addresses, another tunnel type: another route.
  EXPECT_FALSE(c.contains(TestSupport::route("10.0.0.3", "225.1.1.3", Routing::Multicast::TunnelType::gre)));
}

TEST(L3VornUnderlayRoute, TakingTheFirstMovesTheNextInline) {
  VornUnderlayRoute c;
  for (int n : {4, 6, 8}) c.set(r(n), handle(n));
  Handle const taken = c.take(r(4));
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->key().group(), TestSupport::addr("225.1.1.4"));
  EXPECT_EQ(order(c), (std::vector<int>{6, 8}));
  EXPECT_TRUE(c.take(r(8)));
  EXPECT_EQ(order(c), std::vector<int>{6});
  EXPECT_TRUE(c.take(r(6)));
  EXPECT_TRUE(c.empty());
  EXPECT_EQ(c.firstKey(), nullptr);
  EXPECT_EQ(c.begin(), c.end());
}

TEST(L3VornUnderlayRoute, TakingWhatIsNotHeldChangesNothing) {
  VornUnderlayRoute c;
  EXPECT_FALSE(c.take(r(1)));
  c.set(r(2), handle(2));
  c.set(r(4), handle(4));
  EXPECT_FALSE(c.take(r(3)));
  EXPECT_FALSE(c.take(r(5)));
  EXPECT_EQ(order(c), (std::vector<int>{2, 4}));
}

TEST(L3VornUnderlayRoute, TakeHandsTheReferenceOverWithoutReleasingIt) {
  VornUnderlayRoute c;
  Handle h = handle(1);
  MembershipDeduped const* raw = h.ptr();
  c.set(r(1), std::move(h));
  EXPECT_EQ(raw->references(), 1u);
  Handle const taken = c.take(r(1));
  EXPECT_EQ(taken.ptr(), raw);
  EXPECT_EQ(raw->references(), 1u) << "the caller's copy is the only reference left";
}

TEST(L3VornUnderlayRoute, ReplacingReportsAChangeOnlyForAnotherHandle) {
  VornUnderlayRoute c;
  Handle const first = handle(1);
  Handle const again = first;
  Handle const other = handle(1);
  EXPECT_TRUE(c.set(r(1), first));
  EXPECT_FALSE(c.set(r(1), again)) << "the same handle again changes nothing";
  EXPECT_EQ(first->references(), 3u);
  EXPECT_TRUE(c.set(r(1), other));
  EXPECT_EQ(first->references(), 2u) << "the replaced handle was let go";
  EXPECT_EQ(*c.find(r(1)), other);
  EXPECT_EQ(c.size(), 1u);
}

// A handle whose release looks at the collection that held it, the way a
// Join removal's observers may reach back into the reactor.
class Peeking : public MembershipDeduped {
 public:
  Peeking(Routing::Gmp::Brim::RouteIntfKey const& k, VornUnderlayRoute const* c, std::vector<std::size_t>* seen)
      : MembershipDeduped(k), c_(c), seen_(seen) {}
  ~Peeking() override {
    seen_->push_back(c_->size());
    for (auto const& e : *c_) EXPECT_TRUE(e.second) << "a null handle is visible during a release";
  }

 private:
  VornUnderlayRoute const* c_;
  std::vector<std::size_t>* seen_;
};

TEST(L3VornUnderlayRoute, AReleasedHandleSeesTheCollectionConsistent) {
  VornUnderlayRoute c;
  std::vector<std::size_t> seen;
  auto peeking = [&](int n) {
    return Handle(new Peeking(TestSupport::joinKey("0.0.0.0", "225.1.1." + std::to_string(n), 10), &c, &seen));
  };
  c.set(r(2), peeking(2));
  c.set(r(4), peeking(4));
  c.set(r(2), handle(2));  // replaces: the old one goes once the new one is in
  ASSERT_EQ(seen, std::vector<std::size_t>{2});
  c.take(r(2));  // the returned handle goes at the end of the statement
  ASSERT_EQ(seen, std::vector<std::size_t>{2});
  c.take(r(4));
  EXPECT_EQ(seen, (std::vector<std::size_t>{2, 0}));
}

TEST(L3VornUnderlayRoute, AgreesWithAnOrderedMapOverManyChanges) {
  VornUnderlayRoute c;
  std::map<UnderlayRoute, Handle> model;
  unsigned x = 12345;
  for (int step = 0; step < 2000; ++step) {
    x = x * 1103515245u + 12345u;
    int const n = static_cast<int>((x >> 16) % 12);
    if ((x >> 8) % 3 == 0) {
      Handle const got = c.take(r(n));
      auto it = model.find(r(n));
      EXPECT_EQ(got, it == model.end() ? Handle() : it->second) << "step " << step;
      if (it != model.end()) model.erase(it);
    } else {
      Handle const h = handle(n);
      c.set(r(n), h);
      model[r(n)] = h;
    }
    ASSERT_EQ(c.size(), model.size()) << "step " << step;
    auto it = model.begin();
    for (auto const& e : c) {
      ASSERT_EQ(e.first, it->first) << "step " << step;
      ASSERT_EQ(e.second, it->second) << "step " << step;
      ++it;
    }
  }
}

}  // namespace
