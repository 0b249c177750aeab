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
