// The VPN inject path end to end: built through vpnInjectSmFactory on a real
// task scheduler, driven by in-place changes of real inputs, judged by the
// Joins in the underlay status table once the scheduler is idle. This
// executable runs with "PimL3TunnelInject" on: Joins are (*,G). Random
// sequences of every kind of input change, judged against the reference
// model and a fresh start, are in RandomizedVpnTest; the tests here pin the
// reviewer's refusal to walk before it is initialized, switching the path off
// and on, and a teardown mid-walk.
#include "Pim/vpn/VpnInjectSm.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "Pim/join/JoinKey.h"
#include "model/RoutingTypes.h"
#include "support/Inputs.h"
#include "support/TraceCapture.h"
#include "support/VpnTopFixture.h"

namespace {

using namespace TestSupport;
using Irb::Multicast::Egress::OverlayChangeSet;
using Irb::Multicast::Egress::VpnInjectReviewSm;
using Routing::Gmp::Brim::RouteIntfKey;

// The (*,G) Join of an underlay group on a VLAN.
RouteIntfKey starG(std::string_view group, unsigned short vlan) { return joinKey("0.0.0.0", group, vlan); }

class VpnInjectSmTest : public VpnTopFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Irb::Multicast::Egress::togglePimL3TunnelInjectEnabled())
        << "this executable must run with PimL3TunnelInject on (the default toggle directory)";
  }
};

// ---- the wiring --------------------------------------------------------------------------

using VpnInjectSmEndToEnd = VpnInjectSmTest;

// ---- the reviewer's start --------------------------------------------------------------

// Until the reviewer is initialized its walk is refused: the changes wait in
// the change set and are served by the first walk after handleInitialized.
TEST_F(VpnInjectSmTest, NoReviewWalkRunsBeforeTheReviewerIsInitialized) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  start();
  settle();
  auto const reviewer = vpn->vpnInjectReviewSm();
  reviewer->initializedIs(false);
  TraceCapture trace("VpnInjectSm=7");
  join(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{});
  EXPECT_TRUE(vpn->changeSet()->vlanGroup(key(10, "239.1.1.1")));
  ASSERT_FALSE(trace.texts("VpnInjectSm", 7).empty());
  EXPECT_NE(trace.texts("VpnInjectSm", 7).back().find("traceEventwalkRefused"), std::string::npos);
  reviewer->handleInitialized();
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});
}

// The start-up cleanup may skip its walk over a table that was empty when the
// path started, but only while the Join writer alone has changed it: an entry
// someone else wrote before the first walk ended is still stale.
TEST_F(VpnInjectSmTest, StartUpCleanupStillRemovesAnEntryWrittenByAnotherOnAnEmptyTable) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local, 10, "239.1.1.1");
  start();  // the first walk is scheduled, not run yet
  gmp->membershipIs(Routing::Gmp::Brim::Membership{starG("225.9.9.9", 10), 1});
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});
}

// ---- notifications on the top level --------------------------------------------------

class VpnInjectSmNotification : public VpnInjectSmTest {
 protected:
  // The activity of the top level, the IRB reactor and the five machines, in
  // the order the top level applies it.
  std::array<bool, 7> activity() const {
    return {vpn->hasNotificationActive(),
            vpn->vornMcastIrbStatus()->hasNotificationActive(),
            vpn->sbdToVlanSm()->hasNotificationActive(),
            vpn->ipTunnelVlanGroupReduceSm()->hasNotificationActive(),
            vpn->vpnInjectReviewSm()->hasNotificationActive(),
            vpn->overlayMembershipChangeSm()->hasNotificationActive(),
            vpn->sbdVlanChangeSm()->hasNotificationActive()};
  }
  static constexpr std::array<bool, 7> kAllOn{true, true, true, true, true, true, true};
  static constexpr std::array<bool, 7> kAllOff{};
};

// Switching the top level off reaches the IRB reactor and every state machine:
// each misses the changes of its inputs, and follows them again once on.
TEST_F(VpnInjectSmNotification, SwitchedOffMachinesMissChangesAndFollowThemAgainOnceOn) {
  map(*tunnel, 4000, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local, 11);  // the VLAN entry exists: only its group comes while off
  start();
  EXPECT_EQ(settle(), Joins{});
  auto const changeSet = vpn->changeSet();
  auto const sbdStatus = vpn->sbdToVlanStatus();
  auto const reduced = vpn->reducedVlanGroupStatus();
  std::uint32_t const changed = changeSet->changed();

  // Switching off reaches the IRB reactor and every state machine.
  EXPECT_EQ(activity(), kAllOn);
  vpn->hasNotificationActiveIs(false);
  EXPECT_EQ(activity(), kAllOff);
  vpn->hasNotificationActiveIs(false);  // unchanged: nothing to do
  EXPECT_EQ(activity(), kAllOff);
  assign(11, 4000);                                                   // SbdToVlanSm
  EXPECT_FALSE(sbdStatus->sbdVlanState(4000));
  map(*tunnel, 12, "239.1.1.1", {route("10.0.0.1", "225.1.1.2")});  // reduce
  EXPECT_FALSE(reduced->vlanToMulticastGroup(key(12, "239.1.1.1")));
  join(*local, 11, "239.1.1.1");                                      // overlay tracker
  EXPECT_EQ(changeSet->changed(), changed);
  EXPECT_TRUE(changeSet->vlanGroup().empty());
  // The SBD VLAN tracker watches the path's own SBD-to-VLAN status: a member
  // written there directly is not recorded either (undone below).
  auto probe = Irb::Multicast::SbdVlanState::sbdVlanStateIs(4000);
  probe->vlanIdIs(11);
  sbdStatus->sbdVlanStateIs(probe);
  EXPECT_EQ(changeSet->changed(), changed);
  sbdStatus->sbdVlanStateDel(4000);
  // The reviewer: a bump of the change set schedules no walk.
  changeSet->vlanGroupIs(key(4000, "239.1.1.1"));
  changeSet->changedInc(1);
  EXPECT_TRUE(sched->idle());
  EXPECT_EQ(settle(), Joins{});

  vpn->hasNotificationActiveIs(true);
  EXPECT_EQ(activity(), kAllOn);
  // The reviewer reacts to the next bump and drains what was left.
  changeSet->changedInc(1);
  EXPECT_FALSE(sched->idle());
  EXPECT_EQ(settle(), Joins{});
  EXPECT_TRUE(changeSet->vlanGroup().empty());
  // The producers follow the next changes of their inputs.
  unassign(11);
  assign(11, 4000);
  ASSERT_TRUE(sbdStatus->sbdVlanState(4000));
  EXPECT_TRUE(sbdStatus->sbdVlanState(4000)->vlanId(11));
  unmap(*tunnel, 12, "239.1.1.1");
  map(*tunnel, 12, "239.1.1.1", {route("10.0.0.1", "225.1.1.2")});
  EXPECT_TRUE(reduced->vlanToMulticastGroup(key(12, "239.1.1.1")));
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 4000)});
  leave(*local, 11, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{});
  join(*local, 11, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 4000)});
  EXPECT_EQ(settle(), model());
}

// ---- teardown -----------------------------------------------------------------------------

using VpnInjectSmTeardown = VpnInjectSmTest;

// The rest of the walk is queued when the path goes: it withdraws what it
// wrote and leaves no work behind.
TEST_F(VpnInjectSmTeardown, DroppingThePathHalfwayThroughAWalkWithdrawsWhatItWroteAndWritesNothingMore) {
  for (unsigned short v = 10; v < 20; ++v) {
    map(*tunnel, v, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
    join(*local, v, "239.1.1.1");
  }
  sched->itemBudgetIs(3);
  start();
  ASSERT_TRUE(sched->runSlice());
  ASSERT_TRUE(sched->runSlice());
  EXPECT_FALSE(joins(*gmp).empty());
  EXPECT_FALSE(sched->idle());
  vpn = nullptr;
  EXPECT_EQ(joins(*gmp), Joins{});
  EXPECT_TRUE(sched->idle()) << "the rest of the walk outlived the path";
  EXPECT_EQ(settle(), Joins{});
}

}  // namespace
