// The reviewer's per-mapping reactor: the per-route rule, the flag, handle
// bookkeeping and Joins shared through the dedup table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TraceCapture.h"
#include "support/VpnReviewFixture.h"

namespace {

using TestSupport::join;
using TestSupport::key;
using TestSupport::leave;
using TestSupport::route;
using Texts = std::vector<std::string>;

class VpnInjectReviewReactorTest : public TestSupport::VpnReviewFixture {
 protected:
  // A mapping of (10, 239.1.1.1) with one route, started and reviewed.
  Vorn::Ptr<Routing::Multicast::VlanToMulticastGroup> startWithOneMapping(bool joined) {
    auto m = map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
    if (joined) join(*local_, 10, "239.1.1.1");
    start();
    settle();
    return m;
  }
};

TEST_F(VpnInjectReviewReactorTest, RouteAddedWhileActiveIsInjectedAtOnce) {
  auto m = startWithOneMapping(true);
  m->multicastGroupIs(route("10.0.0.2", "225.1.1.2"));
  EXPECT_TRUE(sched_->idle());  // no walk needed
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.2", 10)}));
  EXPECT_EQ(reactor(10, "239.1.1.1")->injectRoute().size(), 2u);
}

TEST_F(VpnInjectReviewReactorTest, RouteRemovedIsWithdrawnAtOnce) {
  auto m = startWithOneMapping(true);
  m->multicastGroupIs(route("10.0.0.2", "225.1.1.2"));
  m->multicastGroupDel(route("10.0.0.1", "225.1.1.1"));
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.2", 10)}));
  EXPECT_EQ(reactor(10, "239.1.1.1")->injectRoute(route("10.0.0.1", "225.1.1.1")), nullptr);
}

TEST_F(VpnInjectReviewReactorTest, RouteAddedWhileInactiveWaitsForTheFlag) {
  auto m = startWithOneMapping(false);
  m->multicastGroupIs(route("10.0.0.2", "225.1.1.2"));
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(reactor(10, "239.1.1.1")->injectRoute().empty());

  join(*local_, 10, "239.1.1.1");
  changed(key(10, "239.1.1.1"));
  settle();
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.2", 10)}));

  leave(*local_, 10, "239.1.1.1");
  changed(key(10, "239.1.1.1"));
  settle();
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(reactor(10, "239.1.1.1")->injectRoute().empty());
}

TEST_F(VpnInjectReviewReactorTest, SettingTheFlagToItsValueDoesNothing) {
  startWithOneMapping(true);
  Reactor* const r = reactor(10, "239.1.1.1");
  ASSERT_TRUE(r->overlayMembership());
  std::uint64_t const writes = gmp_->membershipIsCalls();
  std::uint64_t const deletes = gmp_->membershipDelCalls();
  TestSupport::TraceCapture trace("*=0-9");
  r->overlayMembershipIs(true);
  changed(key(10, "239.1.1.1"));  // a review with the same verdict
  settle();
  EXPECT_EQ(trace.countContaining("handle"), 0u);
  EXPECT_EQ(gmp_->membershipIsCalls(), writes);
  EXPECT_EQ(gmp_->membershipDelCalls(), deletes);
}

TEST_F(VpnInjectReviewReactorTest, FlagChangeTracesTheKeyAndVerdictThenEachRoute) {
  map(10, "239.1.1.1",
      {route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.2", Routing::Multicast::TunnelType::gre)});
  start();
  settle();
  TestSupport::TraceCapture trace("VpnInjectSm=8");
  reactor(10, "239.1.1.1")->overlayMembershipIs(true);
  EXPECT_EQ(trace.texts("VpnInjectSm", 8),
            (Texts{"handleOverlayMembershipVlan 10, Group 239.1.1.1=> true",
                   "handleMulticastGroup((10.0.0.1, 225.1.1.1, vxlan))",
                   "handleMulticastGroup((10.0.0.2, 225.1.1.2, gre))"}));
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10), join4("225.1.1.2", 10)}));
}

TEST_F(VpnInjectReviewReactorTest, Ipv6UnderlayGroupJoinsFromTheIpv6AnySource) {
  map(10, "ff3e::1", {route("2001:db8::1", "ff3e::100")});
  join(*local_, 10, "ff3e::1");
  start();
  settle();
  EXPECT_EQ(joins(), (Joins{join6("ff3e::100", 10)}));
}

TEST_F(VpnInjectReviewReactorTest, TeardownReleasesEveryHandle) {
  map(10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.1", "225.1.1.2")});
  map(20, "", {route("10.0.0.1", "225.1.1.3")});
  join(*local_, 10, "239.1.1.1");
  join(*local_, 20, "239.1.1.1");
  start();
  settle();
  ASSERT_EQ(joins().size(), 3u);
  sm_ = nullptr;
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(dedup_->empty());
}

TEST_F(VpnInjectReviewReactorTest, MappingsSharingAJoinKeepItUntilBothLetGo) {
  // Two overlay groups of one VLAN carried by the same underlay group.
  auto shared = route("10.0.0.1", "225.1.1.1");
  map(10, "239.1.1.1", {shared});
  map(10, "239.1.1.2", {shared});
  join(*local_, 10, "239.1.1.1");
  join(*local_, 10, "239.1.1.2");
  start();
  settle();
  ASSERT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
  EXPECT_EQ(gmp_->membershipIsCalls(), 1u);

  leave(*local_, 10, "239.1.1.1");
  changed(key(10, "239.1.1.1"));
  settle();
  EXPECT_FALSE(reactor(10, "239.1.1.1")->overlayMembership());
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
  EXPECT_EQ(gmp_->membershipDelCalls(), 0u);

  leave(*local_, 10, "239.1.1.2");
  changed(key(10, "239.1.1.2"));
  settle();
  EXPECT_TRUE(joins().empty());
}

TEST_F(VpnInjectReviewReactorTest, WholeVlanMappingAndGroupMappingShareAJoin) {
  auto shared = route("10.0.0.1", "225.1.1.1");
  map(10, "", {shared});
  map(10, "239.1.1.1", {shared});
  join(*local_, 10, "239.1.1.1");
  start();
  settle();
  ASSERT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));

  TestSupport::unmap(*tunnel_, 10, "239.1.1.1");  // one holder goes
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)}));
  TestSupport::unmap(*tunnel_, 10, "");
  EXPECT_TRUE(joins().empty());
}

TEST_F(VpnInjectReviewReactorTest, InjectRouteTakesTheNewHandleBeforeReleasingTheOld) {
  startWithOneMapping(false);
  Reactor* const r = reactor(10, "239.1.1.1");
  auto const rt = route("10.0.0.1", "225.1.1.1");
  auto first = dedup_->dedup(join4("225.1.1.1", 10));
  auto second = dedup_->dedup(join4("225.1.1.9", 10));
  r->injectRouteIs(rt, first);
  r->injectRouteIs(rt, first);  // the same handle: no change
  EXPECT_EQ(first->references(), 2u);
  r->injectRouteIs(rt, second);
  EXPECT_EQ(r->injectRoute(rt), second);
  EXPECT_EQ(first->references(), 1u);
  first = nullptr;
  EXPECT_EQ(joins(), (Joins{join4("225.1.1.9", 10)}));

  r->injectRouteIs(rt, nullptr);  // null deletes
  EXPECT_TRUE(r->injectRoute().empty());
  EXPECT_EQ(second->references(), 1u);
  EXPECT_EQ(r->injectRouteDel(rt), nullptr);
}

TEST_F(VpnInjectReviewReactorTest, RemovingAReactorReleasesItsHandlesAndUnhooksIt) {
  auto m = startWithOneMapping(true);
  Vorn::Ptr<Reactor> const r = reactor(10, "239.1.1.1");
  EXPECT_EQ(sm_->vlanToMulticastGroupDel(key(10, "239.1.1.1")), m);
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(r->isZombie());
  EXPECT_EQ(r->owner(), nullptr);
  m->multicastGroupIs(route("10.0.0.1", "225.1.1.7"));  // no longer heard
  EXPECT_TRUE(joins().empty());
  EXPECT_TRUE(r->injectRoute().empty());
}

}  // namespace
