// The reviewer keeps the Joins a fresh start on the same inputs would write:
// VLAN-wide keys of every kind, a flag that turns false with a handle left,
// a mapping replaced by another object of the same key. (Random sequences
// over the whole path are in RandomizedVpnTest.)
#include <gtest/gtest.h>


#include "support/TraceCapture.h"
#include "support/VpnReviewFixture.h"

namespace {

using Routing::Multicast::VlanToMulticastGroup;
using TestSupport::join;
using TestSupport::key;
using TestSupport::leave;
using TestSupport::route;

class VpnInjectReviewRestartEquivalenceTest : public TestSupport::VpnReviewFixture {};

// ---- VLAN-wide keys -------------------------------------------------------------------------

TEST_F(VpnInjectReviewRestartEquivalenceTest, WildcardKeyedMappingsGetTheVlanVerdict) {
  map(10, "0.0.0.0", {route("10.0.0.1", "225.1.1.1")});
  map(10, "::", {route("2001:db8::1", "ff3e::100")});
  join(*local_, 10, "239.1.1.1");
  TestSupport::TraceCapture trace("VpnInjectSm::OverlayMembership=9");
  start();
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join6("ff3e::100", 10)}));
  EXPECT_EQ(trace.count("VpnInjectSm::OverlayMembership", 9), 1u);  // one verdict for all three keys

  leave(*local_, 10, "239.1.1.1");
  changed(key(10, "239.1.1.1"));
  settle();
  EXPECT_TRUE(joins().empty());
  EXPECT_EQ(joins(), freshJoins());
}

TEST_F(VpnInjectReviewRestartEquivalenceTest, AllVlanWideKeysOfAVlanFollowTheSameVerdict) {
  map(10, "", {route("10.0.0.1", "225.1.1.1")});
  map(10, "0.0.0.0", {route("10.0.0.1", "225.1.1.2")});
  map(11, "0.0.0.0", {route("10.0.0.1", "225.1.1.3")});
  join(*peer_, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  start();
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.2", 10)}));
  EXPECT_EQ(joins(), freshJoins());
}

// ---- flag turning false -------------------------------------------------------------------

TEST_F(VpnInjectReviewRestartEquivalenceTest, MembershipEndingReleasesHandlesOfRoutesNoLongerListed) {
  auto m = map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.1", "225.1.1.2")});
  join(*local_, 10, "239.1.1.1");
  start();
  settle();
  ASSERT_EQ(joins().size(), 2u);

  // A route removal the reactor does not hear: its handle stays for now.
  sm_->hasNotificationActiveIs(false);
  m->multicastGroupDel(route("10.0.0.1", "225.1.1.2"));
  sm_->hasNotificationActiveIs(true);
  ASSERT_EQ(joins().size(), 2u);

  leave(*local_, 10, "239.1.1.1");
  changed(key(10, "239.1.1.1"));
  settle();
  EXPECT_TRUE(reactor(10, "239.1.1.1")->injectRoute().empty());
  EXPECT_TRUE(joins().empty());
  EXPECT_EQ(joins(), freshJoins());
}

// ---- mapping replaced by another object ------------------------------------------------------

class VpnInjectReviewReplacedMappingTest : public VpnInjectReviewRestartEquivalenceTest {
 protected:
  // Puts a new mapping object with `routes` in place of the present one.
  Vorn::Ptr<VlanToMulticastGroup> replace(std::initializer_list<Routing::Multicast::UnderlayRoute> routes) {
    auto m = VlanToMulticastGroup::vlanToMulticastGroupIs(key(10, "239.1.1.1"));
    for (auto const& r : routes) m->multicastGroupIs(r);
    tunnel_->vlanToMulticastGroupIs(m);
    return m;
  }
  void startWith(bool joined) {
    map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.1", "225.1.1.2")});
    if (joined) join(*local_, 10, "239.1.1.1");
    start();
    settle();
  }
};

TEST_F(VpnInjectReviewReplacedMappingTest, ReplacementReleasesRoutesGoneAndInjectsNewOnes) {
  startWith(true);
  std::uint64_t const writes = gmp_->membershipIsCalls();
  std::uint64_t const deletes = gmp_->membershipDelCalls();
  auto m2 = replace({route("10.0.0.1", "225.1.1.2"), route("10.0.0.1", "225.1.1.3")});

  EXPECT_EQ(reactor(10, "239.1.1.1")->vlanToMulticastGroup(), m2);
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.2", 10), join4("225.1.1.3", 10)}));
  EXPECT_EQ(gmp_->membershipIsCalls(), writes + 1);  // the route in both keeps its Join
  EXPECT_EQ(gmp_->membershipDelCalls(), deletes + 1);
  settle();
  EXPECT_EQ(joins(), freshJoins());

  m2->multicastGroupDel(route("10.0.0.1", "225.1.1.3"));  // the new object is observed
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.2", 10)}));
}

TEST_F(VpnInjectReviewReplacedMappingTest, ReplacementWhileInactiveInjectsNothing) {
  startWith(false);
  replace({route("10.0.0.1", "225.1.1.3")});
  EXPECT_TRUE(joins().empty());

  join(*local_, 10, "239.1.1.1");
  changed(key(10, "239.1.1.1"));
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.3", 10)}));
  EXPECT_EQ(joins(), freshJoins());
}

TEST_F(VpnInjectReviewReplacedMappingTest, ReplacementWithEqualRoutesRunsNothing) {
  startWith(true);
  std::uint64_t const writes = gmp_->membershipIsCalls();
  std::uint64_t const deletes = gmp_->membershipDelCalls();
  TestSupport::TraceCapture trace("VpnInjectSm=7-9,Pim::L3InjectSm=7");
  auto m2 = replace({route("10.0.0.1", "225.1.1.1"), route("10.0.0.1", "225.1.1.2")});
  EXPECT_EQ(reactor(10, "239.1.1.1")->vlanToMulticastGroup(), m2);
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_EQ(gmp_->membershipIsCalls(), writes);
  EXPECT_EQ(gmp_->membershipDelCalls(), deletes);
  EXPECT_TRUE(sched_->idle());
  EXPECT_EQ(joins().size(), 2u);
}

}  // namespace
