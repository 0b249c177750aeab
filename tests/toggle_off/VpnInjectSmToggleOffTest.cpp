// The VPN inject path with "PimL3TunnelInject" off: (S,G) Joins toward each
// route's underlay source. This executable runs with a toggle directory that
// switches the toggle off.
#include "Pim/vpn/VpnInjectSm.h"

#include <gtest/gtest.h>

#include "Pim/join/JoinKey.h"
#include "support/Inputs.h"
#include "support/ReferenceModel.h"
#include "support/VpnTopFixture.h"

namespace {

using namespace TestSupport;

class VpnInjectSmToggleOff : public VpnTopFixture {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Irb::Multicast::Egress::togglePimL3TunnelInjectEnabled())
        << "this executable must run with the toggle directory that switches PimL3TunnelInject off";
  }
};

TEST_F(VpnInjectSmToggleOff, HostJoiningGroupGetsJoinsTowardEachRoutesSourceAndLeavingWithdrawsThem) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.1")});
  map(*tunnel, 10, "ff3e::1", {route("2001:db8::1", "ff3e::225")});
  start();
  EXPECT_EQ(settle(), Joins{});

  join(*local, 10, "239.1.1.1");
  join(*local, 10, "ff3e::1");
  EXPECT_EQ(settle(), (Joins{joinKey("10.0.0.1", "225.1.1.1", 10), joinKey("10.0.0.2", "225.1.1.1", 10),
                             joinKey("2001:db8::1", "ff3e::225", 10)}));

  leave(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{joinKey("2001:db8::1", "ff3e::225", 10)});
  leave(*local, 10, "ff3e::1");
  EXPECT_EQ(settle(), Joins{});
}

TEST_F(VpnInjectSmToggleOff, SbdVlanAndWholeVlanMappingsUseTheRouteSourceToo) {
  map(*tunnel, 4000, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(*tunnel, 11, "", {route("10.0.0.3", "225.1.1.3")});
  join(*local, 10, "239.1.1.1");
  join(*peer, 11, "239.1.1.2", "0.0.0.0", "Ethernet1");
  start();
  EXPECT_EQ(settle(), Joins{joinKey("10.0.0.3", "225.1.1.3", 11)});

  assign(10, 4000);
  EXPECT_EQ(settle(), (Joins{joinKey("10.0.0.1", "225.1.1.1", 4000), joinKey("10.0.0.3", "225.1.1.3", 11)}));
  EXPECT_EQ(settle(), model());

  vpn = nullptr;
  EXPECT_EQ(joins(*gmp), Joins{});
}

TEST_F(VpnInjectSmToggleOff, ChangesWhileRunningMatchTheReferenceModel) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  start();
  join(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), model());
  auto m = map(*tunnel, 10, "239.1.1.1", {route("10.0.0.2", "225.1.1.2")});
  EXPECT_EQ(settle(), model());
  m->multicastGroupDel(route("10.0.0.1", "225.1.1.1"));
  map(*tunnel, 12, "0.0.0.0", {route("10.0.0.4", "225.1.1.4")});
  join(*peer, 12, "239.1.1.9", "10.9.9.9", "Ethernet1");
  assign(12, 4000);
  map(*tunnel, 4000, "", {route("10.0.0.5", "225.1.1.5")});
  Joins const running = settle();
  EXPECT_EQ(running, model());
  EXPECT_EQ(running, (Joins{joinKey("10.0.0.2", "225.1.1.2", 10), joinKey("10.0.0.4", "225.1.1.4", 12),
                            joinKey("10.0.0.5", "225.1.1.5", 4000)}));
}

}  // namespace
