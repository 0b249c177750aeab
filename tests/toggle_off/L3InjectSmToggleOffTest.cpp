// The L3 inject path with "PimL3TunnelInject" off: (S,G) Joins toward each
// route's underlay source. This executable runs with a toggle directory that
// switches the toggle off.
#include "Pim/l3/L3InjectSm.h"

#include <gtest/gtest.h>

#include "Pim/join/JoinKey.h"
#include "support/Inputs.h"
#include "support/L3Fixture.h"

namespace {

using namespace TestSupport;
using JoinKeys = std::set<Routing::Gmp::Brim::RouteIntfKey>;

class L3InjectSmToggleOff : public L3Fixture {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Irb::Multicast::Egress::togglePimL3TunnelInjectEnabled())
        << "this executable must run with the toggle directory that switches PimL3TunnelInject off";
  }
};

TEST_F(L3InjectSmToggleOff, JoinsTowardTheRoutesUnderlaySource) {
  join(*local, 10, "239.1.1.1");
  join(*local, 10, "ff3e::1");
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(*tunnel, 10, "ff3e::1", {route("2001:db8::1", "ff3e::225")});
  auto sm = start();
  EXPECT_EQ(current(), (JoinKeys{joinKey("10.0.0.1", "225.1.1.1", 10), joinKey("2001:db8::1", "ff3e::225", 10)}));
}

TEST_F(L3InjectSmToggleOff, RoutesOfOneGroupFromTwoSourcesGiveTwoJoins) {
  join(*local, 10, "239.1.1.1");
  auto m = map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.1")});
  auto sm = start();
  EXPECT_EQ(current(), (JoinKeys{joinKey("10.0.0.1", "225.1.1.1", 10), joinKey("10.0.0.2", "225.1.1.1", 10)}));
  m->multicastGroupDel(route("10.0.0.1", "225.1.1.1"));
  EXPECT_EQ(current(), JoinKeys{joinKey("10.0.0.2", "225.1.1.1", 10)});
  EXPECT_EQ(current(), freshJoins());
}

TEST_F(L3InjectSmToggleOff, StartUpKeepsWantedSourceJoinsAndRemovesTheStarGOnes) {
  join(*local, 10, "239.1.1.1");
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  // Written by a run with the toggle on.
  gmp->membershipIs({joinKey("0.0.0.0", "225.1.1.1", 10), 1});
  gmp->membershipIs({joinKey("10.0.0.1", "225.1.1.1", 10), 1});
  auto const delsBefore = gmp->membershipDelCalls();
  auto sm = start();
  EXPECT_EQ(current(), JoinKeys{joinKey("10.0.0.1", "225.1.1.1", 10)});
  EXPECT_EQ(gmp->membershipDelCalls() - delsBefore, 1u);
}

}  // namespace
