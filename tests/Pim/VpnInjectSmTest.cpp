// The VPN inject path end to end: built through vpnInjectSmFactory on a real
// task scheduler, driven by in-place changes of real inputs, judged by the
// Joins in the underlay status table once the scheduler is idle. This
// executable runs with "PimL3TunnelInject" on: Joins are (*,G).
#include "Pim/VpnInjectSm.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Pim/JoinKey.h"
#include "model/RoutingTypes.h"
#include "support/Inputs.h"
#include "support/ReferenceModel.h"
#include "support/TraceCapture.h"
#include "support/VpnTopFixture.h"

namespace {

using namespace TestSupport;
using Irb::Multicast::Egress::OverlayChangeSet;
using Irb::Multicast::Egress::VpnInjectReviewSm;
using Routing::Gmp::Brim::RouteIntfKey;

// The (*,G) Join of an underlay group on a VLAN.
RouteIntfKey starG(std::string_view group, unsigned short vlan) { return joinKey("0.0.0.0", group, vlan); }
RouteIntfKey starG6(std::string_view group, unsigned short vlan) { return joinKey("::", group, vlan); }

class VpnInjectSmTest : public VpnTopFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Irb::Multicast::Egress::togglePimL3TunnelInjectEnabled())
        << "this executable must run with PimL3TunnelInject on (the default toggle directory)";
  }
};

// ---- the typical request and its variants ---------------------------------------------

using VpnInjectSmEndToEnd = VpnInjectSmTest;

TEST_F(VpnInjectSmEndToEnd, HostJoiningGroupOnVlanGetsTheMappingsJoinsAndLeavingWithdrawsThem) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.2")});
  map(*tunnel, 10, "239.1.1.2", {route("10.0.0.1", "225.1.1.3")});
  map(*tunnel, 11, "239.1.1.1", {route("10.0.0.1", "225.1.1.4")});
  start();
  EXPECT_EQ(settle(), Joins{});

  join(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), (Joins{starG("225.1.1.1", 10), starG("225.1.1.2", 10)}));

  leave(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{});
}

TEST_F(VpnInjectSmEndToEnd, MembersPresentAtStartAreServedByTheFirstWalk) {
  join(*local, 10, "239.1.1.1");
  join(*local, 12, "ff3e::1");
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(*tunnel, 12, "ff3e::1", {route("2001:db8::1", "ff3e::225")});
  start();
  EXPECT_EQ(settle(), (Joins{starG("225.1.1.1", 10), starG6("ff3e::225", 12)}));
  EXPECT_EQ(settle(), model());
}

TEST_F(VpnInjectSmEndToEnd, FactoryBuildsThePipelineOnTheReducedStatus) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  start();
  ASSERT_TRUE(vpn->initialized());
  auto const reduced = vpn->reducedVlanGroupStatus();
  ASSERT_TRUE(reduced);
  EXPECT_EQ(reduced->name(), Vorn::String(stringValue(Routing::Multicast::irbRemoteReduced())));
  EXPECT_EQ(vpn->vpnInjectReviewSm()->tunnelVlanGroupStatus(), reduced);
  EXPECT_EQ(vpn->overlayMembershipChangeSm()->tunnelVlanGroupStatus(), reduced);
  EXPECT_EQ(vpn->sbdVlanChangeSm()->tunnelVlanGroupStatus(), reduced);
  EXPECT_EQ(vpn->ipTunnelVlanGroupReduceSm()->tunnelVlanGroupStatus(), tunnel);
  // The input's mapping reaches the reviewer only through the reduced copy.
  EXPECT_TRUE(reduced->vlanToMulticastGroup(key(10, "239.1.1.1")));
  EXPECT_NE(vpn->vpnInjectReviewSm()->vornVlanToMulticastGroup(key(10, "239.1.1.1")), nullptr);
  // One change set, shared by the trackers and the reviewer.
  EXPECT_EQ(vpn->overlayMembershipChangeSm()->changeSet(), vpn->changeSet());
  EXPECT_EQ(vpn->sbdVlanChangeSm()->changeSet(), vpn->changeSet());
  EXPECT_EQ(vpn->vpnInjectReviewSm()->changeSet(), vpn->changeSet());
  EXPECT_EQ(vpn->vpnInjectReviewSm()->underlayInjectDedupTable(), vpn->underlayInjectDedupTable());
  EXPECT_EQ(vpn->underlayInjectNotifiee()->gmpStatus(), gmp);
}

TEST_F(VpnInjectSmEndToEnd, BuildingTracesHandleInitialized) {
  TraceCapture trace("VpnInjectSm=8");
  start();
  // The reviewer is built last, inside the top level's handleInitialized.
  EXPECT_EQ(trace.texts("VpnInjectSm", 8),
            (std::vector<std::string>{"void Irb::Multicast::Egress::VpnInjectSm::handleInitialized()",
                                      "void Irb::Multicast::Egress::VpnInjectReviewSm::handleInitialized()"}));
}

TEST_F(VpnInjectSmEndToEnd, PeerJoinsCountOnlyThroughNonTunnelInterfaces) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(*tunnel, 10, "", {route("10.0.0.1", "225.1.1.9")});
  start();

  join(*peer, 10, "239.1.1.1");  // a group entry with no source
  EXPECT_EQ(settle(), Joins{});
  join(*peer, 10, "239.1.1.1", "0.0.0.0", "Vxlan1");
  EXPECT_EQ(settle(), Joins{});

  join(*peer, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  EXPECT_EQ(settle(), (Joins{starG("225.1.1.1", 10), starG("225.1.1.9", 10)}));

  leave(*peer, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  EXPECT_EQ(settle(), Joins{});

  // A source other than the any-source counts the same way.
  join(*peer, 10, "239.1.1.1", "10.9.9.9", "Ethernet2");
  EXPECT_EQ(settle(), (Joins{starG("225.1.1.1", 10), starG("225.1.1.9", 10)}));
  leave(*peer, 10, "239.1.1.1", "10.9.9.9");
  EXPECT_EQ(settle(), Joins{});
  EXPECT_EQ(settle(), model());
}

TEST_F(VpnInjectSmEndToEnd, MemberVlanJoiningOrLeavingAnSbdChangesTheSbdVlansJoins) {
  map(*tunnel, 4000, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(*tunnel, 4001, "239.1.1.1", {route("10.0.0.1", "225.1.1.2")});
  join(*local, 10, "239.1.1.1");
  start();
  EXPECT_EQ(settle(), Joins{});

  assign(10, 4000);
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 4000)});

  assign(10, 4001);  // moves to another SBD VLAN
  EXPECT_EQ(settle(), Joins{starG("225.1.1.2", 4001)});

  unassign(10);
  EXPECT_EQ(settle(), Joins{});
}

TEST_F(VpnInjectSmEndToEnd, MembershipChangeInAMemberVlanReachesItsSbdVlan) {
  assign(10, 4000);
  assign(11, 4000);
  map(*tunnel, 4000, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.2")});
  start();
  EXPECT_EQ(settle(), Joins{});

  join(*local, 11, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 4000)});
  join(*peer, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  EXPECT_EQ(settle(), (Joins{starG("225.1.1.1", 4000), starG("225.1.1.2", 10)}));

  leave(*local, 11, "239.1.1.1");
  EXPECT_EQ(settle(), (Joins{starG("225.1.1.1", 4000), starG("225.1.1.2", 10)}));
  leave(*peer, 10, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{});
}

TEST_F(VpnInjectSmEndToEnd, MappingsAndRoutesAddedAndRemovedWhileRunning) {
  join(*local, 10, "239.1.1.1");
  start();
  EXPECT_EQ(settle(), Joins{});

  auto m = map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});

  m->multicastGroupIs(route("10.0.0.2", "225.1.1.2"));
  EXPECT_EQ(settle(), (Joins{starG("225.1.1.1", 10), starG("225.1.1.2", 10)}));

  m->multicastGroupDel(route("10.0.0.1", "225.1.1.1"));
  EXPECT_EQ(settle(), Joins{starG("225.1.1.2", 10)});

  map(*tunnel, 10, "239.1.1.2", {route("10.0.0.1", "225.1.1.3")});  // no member: no Join
  EXPECT_EQ(settle(), Joins{starG("225.1.1.2", 10)});

  unmap(*tunnel, 10, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{});

  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});
  EXPECT_EQ(settle(), model());
}

TEST_F(VpnInjectSmEndToEnd, TwoMappingsSharingARouteKeepTheJoinUntilBothAreDone) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(*tunnel, 10, "239.1.1.2", {route("10.0.0.1", "225.1.1.1")});
  join(*local, 10, "239.1.1.1");
  join(*local, 10, "239.1.1.2");
  start();
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});
  leave(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});
  unmap(*tunnel, 10, "239.1.1.2");
  EXPECT_EQ(settle(), Joins{});
}

TEST_F(VpnInjectSmEndToEnd, WholeVlanMappingsFollowAnyGroupOfTheVlan) {
  map(*tunnel, 10, "", {route("10.0.0.1", "225.1.1.1")});         // no group family
  map(*tunnel, 10, "0.0.0.0", {route("10.0.0.1", "225.1.1.2")});  // wildcard group
  map(*tunnel, 11, "", {route("10.0.0.1", "225.1.1.3")});
  start();
  EXPECT_EQ(settle(), Joins{});

  join(*local, 10);  // a VLAN entry without a group wants nothing
  EXPECT_EQ(settle(), Joins{});

  join(*local, 10, "239.1.1.1");
  Joins const vlan10{starG("225.1.1.1", 10), starG("225.1.1.2", 10)};
  EXPECT_EQ(settle(), vlan10);
  join(*local, 10, "239.1.1.2");
  leave(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), vlan10);
  leave(*local, 10, "239.1.1.2");
  EXPECT_EQ(settle(), Joins{});

  join(*peer, 11, "239.7.7.7", "0.0.0.0", "Vxlan1");
  EXPECT_EQ(settle(), Joins{});
  join(*peer, 11, "239.7.7.7", "0.0.0.0", "Ethernet1");
  EXPECT_EQ(settle(), Joins{starG("225.1.1.3", 11)});
  EXPECT_EQ(settle(), model());
}

TEST_F(VpnInjectSmEndToEnd, LocalWildcardGroupServesEverySpecificMappingOfTheVlan) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(*tunnel, 10, "239.1.1.2", {route("10.0.0.1", "225.1.1.2")});
  start();
  join(*local, 10, "0.0.0.0");
  EXPECT_EQ(settle(), (Joins{starG("225.1.1.1", 10), starG("225.1.1.2", 10)}));
  leave(*local, 10, "0.0.0.0");
  EXPECT_EQ(settle(), Joins{});
}

// ---- without an IRB status ---------------------------------------------------------------

using VpnInjectSmWithoutIrb = VpnInjectSmTest;

TEST_F(VpnInjectSmWithoutIrb, NoIrbReactorAndNullHandedOn) {
  start(false);
  ASSERT_TRUE(vpn->initialized());
  EXPECT_FALSE(vpn->hasMcastIrbStatusReactor());
  EXPECT_EQ(vpn->vornMcastIrbStatus(), nullptr);
  EXPECT_FALSE(vpn->mcastIrbStatus());
  EXPECT_FALSE(vpn->sbdToVlanSm()->mcastIrbStatus());
  EXPECT_FALSE(vpn->ipTunnelVlanGroupReduceSm()->mcastIrbStatus());
  EXPECT_FALSE(vpn->overlayMembershipChangeSm()->mcastIrbStatus());
  // Everything else is built as usual.
  EXPECT_TRUE(vpn->sbdToVlanStatus());
  EXPECT_TRUE(vpn->reducedVlanGroupStatus());
  EXPECT_TRUE(vpn->sbdVlanChangeSm());
  EXPECT_TRUE(vpn->vpnInjectReviewSm());
}

TEST_F(VpnInjectSmWithoutIrb, WithAnIrbStatusEveryConsumerGetsIt) {
  start(true);
  EXPECT_TRUE(vpn->hasMcastIrbStatusReactor());
  EXPECT_EQ(vpn->mcastIrbStatus(), irb);
  EXPECT_EQ(vpn->sbdToVlanSm()->mcastIrbStatus(), irb);
  EXPECT_EQ(vpn->ipTunnelVlanGroupReduceSm()->mcastIrbStatus(), irb);
  EXPECT_EQ(vpn->overlayMembershipChangeSm()->mcastIrbStatus(), irb);
}

TEST_F(VpnInjectSmWithoutIrb, SpecificGroupJoinedLaterIsServedAsIfTheVlanHadNoSbdVlan) {
  assign(10, 4000);  // present in the IRB status, but the path is given none
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(*tunnel, 4000, "239.1.1.1", {route("10.0.0.1", "225.1.1.2")});
  map(*tunnel, 10, "", {route("10.0.0.1", "225.1.1.3")});
  start(false);
  EXPECT_EQ(settle(), Joins{});

  join(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), (Joins{starG("225.1.1.1", 10), starG("225.1.1.3", 10)}));
  join(*peer, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  join(*local, 10, "0.0.0.0");
  leave(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), model());
  leave(*peer, 10, "239.1.1.1");
  leave(*local, 10);
  EXPECT_EQ(settle(), Joins{});
}

TEST_F(VpnInjectSmWithoutIrb, SpecificGroupPresentAtStartIsServed) {
  join(*local, 10, "239.1.1.1");
  join(*peer, 11, "239.1.1.2", "0.0.0.0", "Ethernet1");
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  map(*tunnel, 11, "239.1.1.2", {route("10.0.0.1", "225.1.1.2")});
  start(false);
  EXPECT_EQ(settle(), (Joins{starG("225.1.1.1", 10), starG("225.1.1.2", 11)}));
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

TEST_F(VpnInjectSmNotification, SwitchingOffReachesTheIrbReactorAndEveryStateMachineAndOnRestoresThem) {
  start();
  EXPECT_EQ(activity(), kAllOn);
  vpn->hasNotificationActiveIs(false);
  EXPECT_EQ(activity(), kAllOff);
  vpn->hasNotificationActiveIs(false);  // unchanged: nothing to do
  EXPECT_EQ(activity(), kAllOff);
  vpn->hasNotificationActiveIs(true);
  EXPECT_EQ(activity(), kAllOn);
}

TEST_F(VpnInjectSmNotification, SwitchedOffMachinesMissChangesAndFollowThemAgainOnceOn) {
  map(*tunnel, 4000, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local, 11);  // the VLAN entry exists: only its group comes while off
  start();
  EXPECT_EQ(settle(), Joins{});
  auto const changeSet = vpn->changeSet();
  auto const sbdStatus = vpn->sbdToVlanStatus();
  auto const reduced = vpn->reducedVlanGroupStatus();
  std::uint32_t const changed = changeSet->changed();

  vpn->hasNotificationActiveIs(false);
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

TEST_F(VpnInjectSmNotification, MembershipJoinedWhileOffWritesNoJoinUntilOnAndChangedAgain) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  start();
  EXPECT_EQ(settle(), Joins{});  // the first walk is done before switching off
  vpn->hasNotificationActiveIs(false);
  join(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{});
  vpn->hasNotificationActiveIs(true);
  leave(*local, 10);  // a fresh change, seen from the VLAN entry down
  join(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});
}

// ---- setters and Del operations -----------------------------------------------------------

using VpnInjectSmSetters = VpnInjectSmTest;

TEST_F(VpnInjectSmSetters, ReviewerIsReusedForTheSameSixInputsAndReplacedWhenAnyDiffers) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local, 10, "239.1.1.1");
  start();
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});

  auto original = vpn->vpnInjectReviewSm();
  auto again = [&] {
    return vpn->vpnInjectReviewSmIs(sched, coll, vpn->reducedVlanGroupStatus(), vpn->changeSet(),
                                    vpn->sbdToVlanStatus(), vpn->underlayInjectDedupTable());
  };
  EXPECT_EQ(again(), original);
  EXPECT_EQ(vpn->vpnInjectReviewSm(), original);
  original = nullptr;  // a reviewer held elsewhere would go on acting

  auto otherSched = Vorn::make<Keel::TaskScheduler>();
  auto otherColl = Irb::Multicast::Egress::membershipJoinStatusCollFactory();
  auto otherTunnel = Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemoteReduced");
  auto otherChangeSet = Irb::Multicast::Egress::overlayChangeSetFactory();
  auto otherSbd = Irb::Multicast::SbdToVlanStatus::sbdToVlanStatusIs();
  auto otherWriter = Vorn::make<Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee>(gmp);
  auto otherDedup = Vorn::make<Routing::Gmp::MembershipDedupTable>(otherWriter);
  for (int changedInput = 0; changedInput < 6; ++changedInput) {
    SCOPED_TRACE(changedInput);
    auto const before = again();  // the reviewer on the path's own inputs
    auto const replaced = vpn->vpnInjectReviewSmIs(
        changedInput == 0 ? otherSched : sched, changedInput == 1 ? otherColl : coll,
        changedInput == 2 ? otherTunnel : vpn->reducedVlanGroupStatus(),
        changedInput == 3 ? otherChangeSet : vpn->changeSet(),
        changedInput == 4 ? otherSbd : vpn->sbdToVlanStatus(),
        changedInput == 5 ? otherDedup : vpn->underlayInjectDedupTable());
    EXPECT_NE(replaced, before);
    EXPECT_EQ(vpn->vpnInjectReviewSm(), replaced);
    EXPECT_TRUE(replaced->hasNotificationActive());
  }
  otherSched->runUntilIdle();

  // Back on the path's own inputs, the path converges as before.
  auto const last = vpn->vpnInjectReviewSm();
  EXPECT_NE(again(), last);
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});
  leave(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{});
}

TEST_F(VpnInjectSmSetters, ReducedStatusIsReusedUnderItsNameAndDetachedAndReplacedUnderAnother) {
  start();
  auto const reduced = vpn->reducedVlanGroupStatus();
  Vorn::String const name(stringValue(Routing::Multicast::irbRemoteReduced()));
  reduced->parentIs(tunnel.ptr());

  EXPECT_EQ(vpn->reducedVlanGroupStatusIs(name), reduced);
  EXPECT_EQ(reduced->parent(), tunnel.ptr());  // reuse keeps the parent

  auto const fresh = vpn->reducedVlanGroupStatusIs(Vorn::String("irbRemote"));
  EXPECT_NE(fresh, reduced);
  EXPECT_EQ(vpn->reducedVlanGroupStatus(), fresh);
  EXPECT_EQ(fresh->name(), Vorn::String("irbRemote"));
  EXPECT_TRUE(fresh->hasNotificationActive());
  EXPECT_EQ(reduced->parent(), nullptr);
}

TEST_F(VpnInjectSmSetters, OwnedStatusesAndJoinWriterAreReused) {
  start();
  auto const sbd = vpn->sbdToVlanStatus();
  EXPECT_EQ(vpn->sbdToVlanStatusIs(), sbd);

  auto const writer = vpn->underlayInjectNotifiee();
  auto const table = vpn->underlayInjectDedupTable();
  EXPECT_EQ(vpn->underlayInjectNotifieeIs(gmp), writer);
  EXPECT_EQ(vpn->underlayInjectDedupTableIs(writer), table);

  // Another status table re-points the same writer.
  auto otherGmp = Routing::Gmp::Brim::Status::statusIs();
  EXPECT_EQ(vpn->underlayInjectNotifieeIs(otherGmp), writer);
  EXPECT_EQ(writer->gmpStatus(), otherGmp);
  EXPECT_EQ(vpn->underlayInjectNotifieeIs(gmp), writer);
  EXPECT_EQ(writer->gmpStatus(), gmp);

  // Another lifetime notifiee needs another table.
  auto otherWriter = Vorn::make<Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee>(gmp);
  auto const otherTable = vpn->underlayInjectDedupTableIs(otherWriter);
  EXPECT_NE(otherTable, table);
  EXPECT_EQ(vpn->underlayInjectDedupTable(), otherTable);
  EXPECT_EQ(otherTable->lifetimeNotifiee(), otherWriter);
}

TEST_F(VpnInjectSmSetters, StateMachinesAreReusedForTheSameInputsAndReplacedForOthers) {
  start();
  auto const irbIn = irbConst();
  auto const sbdSm = vpn->sbdToVlanSm();
  auto const reduceSm = vpn->ipTunnelVlanGroupReduceSm();
  auto const overlaySm = vpn->overlayMembershipChangeSm();
  auto const sbdVlanSm = vpn->sbdVlanChangeSm();
  auto const reduced = vpn->reducedVlanGroupStatus();
  EXPECT_EQ(vpn->sbdToVlanSmIs(irbIn, vpn->sbdToVlanStatus()), sbdSm);
  EXPECT_EQ(vpn->ipTunnelVlanGroupReduceSmIs(tunnel, irbIn, vpn->sbdToVlanStatus(), sched, reduced), reduceSm);
  EXPECT_EQ(vpn->overlayMembershipChangeSmIs(coll, irbIn, reduced, vpn->changeSet()), overlaySm);
  EXPECT_EQ(vpn->sbdVlanChangeSmIs(vpn->sbdToVlanStatus(), reduced, vpn->changeSet()), sbdVlanSm);

  auto const otherSbd = Irb::Multicast::SbdToVlanStatus::sbdToVlanStatusIs();
  auto const newSbdSm = vpn->sbdToVlanSmIs(irbIn, otherSbd);
  EXPECT_NE(newSbdSm, sbdSm);
  EXPECT_EQ(vpn->sbdToVlanSm(), newSbdSm);
  EXPECT_TRUE(newSbdSm->hasNotificationActive());
  auto const newOverlaySm = vpn->overlayMembershipChangeSmIs(coll, nullptr, reduced, vpn->changeSet());
  EXPECT_NE(newOverlaySm, overlaySm);
  EXPECT_EQ(vpn->overlayMembershipChangeSm(), newOverlaySm);
}

TEST_F(VpnInjectSmSetters, DelSwitchesAStateMachineOffAndReleasesIt) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  join(*local, 10, "239.1.1.1");
  start();
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});

  auto sbdSm = vpn->sbdToVlanSmDel();
  ASSERT_TRUE(sbdSm);
  EXPECT_FALSE(vpn->sbdToVlanSm());
  EXPECT_FALSE(sbdSm->hasNotificationActive());
  assign(10, 4000);
  EXPECT_FALSE(vpn->sbdToVlanStatus()->sbdVlanState(4000));
  EXPECT_FALSE(vpn->sbdToVlanSmDel());  // nothing left to release

  auto reviewer = vpn->vpnInjectReviewSmDel();
  ASSERT_TRUE(reviewer);
  EXPECT_FALSE(vpn->vpnInjectReviewSm());
  EXPECT_FALSE(reviewer->hasNotificationActive());
  EXPECT_EQ(joins(*gmp), Joins{starG("225.1.1.1", 10)});  // still held by the returned reviewer
  reviewer = nullptr;
  EXPECT_EQ(joins(*gmp), Joins{});

  EXPECT_TRUE(vpn->ipTunnelVlanGroupReduceSmDel());
  EXPECT_TRUE(vpn->overlayMembershipChangeSmDel());
  EXPECT_TRUE(vpn->sbdVlanChangeSmDel());
  EXPECT_FALSE(vpn->ipTunnelVlanGroupReduceSm());
  EXPECT_FALSE(vpn->overlayMembershipChangeSm());
  EXPECT_FALSE(vpn->sbdVlanChangeSm());
  vpn = nullptr;  // teardown copes with what is gone
}

TEST_F(VpnInjectSmSetters, DelReleasesTheWriterTheTableAndTheStatusesWithoutSwitchingThemOff) {
  start();
  auto const reduced = vpn->reducedVlanGroupStatus();
  auto const sbd = vpn->sbdToVlanStatus();
  auto const writer = vpn->underlayInjectNotifiee();
  auto const table = vpn->underlayInjectDedupTable();
  EXPECT_EQ(vpn->reducedVlanGroupStatusDel(), reduced);
  EXPECT_EQ(vpn->sbdToVlanStatusDel(), sbd);
  EXPECT_EQ(vpn->underlayInjectDedupTableDel(), table);
  EXPECT_EQ(vpn->underlayInjectNotifieeDel(), writer);
  EXPECT_FALSE(vpn->reducedVlanGroupStatus());
  EXPECT_FALSE(vpn->sbdToVlanStatus());
  EXPECT_FALSE(vpn->underlayInjectDedupTable());
  EXPECT_FALSE(vpn->underlayInjectNotifiee());
  EXPECT_TRUE(reduced->hasNotificationActive());
  EXPECT_TRUE(sbd->hasNotificationActive());
  EXPECT_TRUE(table->hasNotificationActive());
  EXPECT_TRUE(writer->hasNotificationActive());
}

TEST_F(VpnInjectSmSetters, IrbStatusDelDetachesTheReactor) {
  start();
  EXPECT_EQ(vpn->mcastIrbStatusDel(), irb);
  EXPECT_FALSE(vpn->hasMcastIrbStatusReactor());
  EXPECT_FALSE(vpn->mcastIrbStatus());
  EXPECT_FALSE(vpn->mcastIrbStatusDel());
  // The top level still switches the rest.
  vpn->hasNotificationActiveIs(false);
  EXPECT_FALSE(vpn->vpnInjectReviewSm()->hasNotificationActive());
  vpn->hasNotificationActiveIs(true);
  EXPECT_TRUE(vpn->vpnInjectReviewSm()->hasNotificationActive());
}

// ---- teardown -----------------------------------------------------------------------------

using VpnInjectSmTeardown = VpnInjectSmTest;

TEST_F(VpnInjectSmTeardown, DroppingThePathWithdrawsEveryJoinItWroteAndLeavesOthersAlone) {
  assign(11, 4000);
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.2")});
  map(*tunnel, 10, "", {route("10.0.0.1", "225.1.1.3")});
  map(*tunnel, 4000, "239.1.1.2", {route("10.0.0.1", "225.1.1.4")});
  map(*tunnel, 12, "ff3e::1", {route("2001:db8::1", "ff3e::225")});
  join(*local, 10, "239.1.1.1");
  join(*local, 11, "239.1.1.2");
  join(*peer, 12, "ff3e::1", "::", "Ethernet1");
  // An entry another writer (the GMP agent, say) put into the same table.
  RouteIntfKey const foreign = joinKey("10.5.5.5", "225.9.9.9", 20);
  gmp->membershipIs({foreign, 1});

  start();
  Joins const running = settle();
  EXPECT_EQ(running, (Joins{starG("225.1.1.1", 10), starG("225.1.1.2", 10), starG("225.1.1.3", 10),
                            starG("225.1.1.4", 4000), starG6("ff3e::225", 12), foreign}));

  vpn = nullptr;
  EXPECT_EQ(joins(*gmp), Joins{foreign});
  // Later input changes reach nothing.
  join(*local, 10, "239.1.1.2");
  leave(*local, 10, "239.1.1.1");
  map(*tunnel, 10, "239.1.1.2", {route("10.0.0.1", "225.1.1.5")});
  EXPECT_EQ(settle(), Joins{foreign});
}

TEST_F(VpnInjectSmTeardown, DroppingThePathWithAWalkPendingWritesNothingMore) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  start();
  EXPECT_EQ(settle(), Joins{});
  join(*local, 10, "239.1.1.1");
  ASSERT_FALSE(sched->idle());  // the walk is queued, not run
  vpn = nullptr;
  EXPECT_TRUE(sched->idle());
  EXPECT_EQ(settle(), Joins{});
}

TEST_F(VpnInjectSmTeardown, DroppingThePathHalfwayThroughAWalkWithdrawsWhatItWrote) {
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
  EXPECT_EQ(settle(), Joins{});
}

// ---- randomized: in-place changes against the reference model ------------------------------

// One random in-place change of membership, mappings or SBD assignment.
class InPlaceChanges {
 public:
  InPlaceChanges(Irb::Multicast::Gmp::MembershipJoinStatus& local, Irb::Multicast::Gmp::MembershipJoinStatus& peer,
                 Routing::Multicast::IpTunnelVlanGroupStatus& tunnel, Irb::Multicast::McastIrbStatus& irb,
                 std::uint64_t seed)
      : local_(local), peer_(peer), tunnel_(tunnel), irb_(irb), rng_(seed) {}

  std::string apply() {
    static constexpr std::array<unsigned short, 5> kVlans{10, 11, 12, 4000, 4001};
    static constexpr std::array<unsigned short, 3> kMembers{10, 11, 12};
    static constexpr std::array<unsigned short, 2> kSbds{4000, 4001};
    static constexpr std::array<char const*, 5> kGroups{"239.1.1.1", "239.1.1.2", "0.0.0.0", "ff3e::1", "::"};
    static constexpr std::array<char const*, 5> kMapGroups{"239.1.1.1", "239.1.1.2", "0.0.0.0", "ff3e::1", ""};
    static constexpr std::array<char const*, 3> kIntfs{"Ethernet1", "Ethernet2", "Vxlan1"};
    static constexpr std::array<char const*, 2> kSources{"0.0.0.0", "10.9.9.9"};
    static constexpr std::array<std::pair<char const*, char const*>, 4> kRoutes{
        {{"10.0.0.1", "225.1.1.1"}, {"10.0.0.2", "225.1.1.1"}, {"10.0.0.1", "225.1.1.2"}, {"2001:db8::1", "ff3e::225"}}};

    unsigned short const vlan = pick(kVlans);
    std::ostringstream what;
    switch (below(9)) {
      case 0: {
        char const* g = below(5) == 0 ? "" : pick(kGroups);
        join(local_, vlan, g);
        what << "local join " << vlan << " '" << g << "'";
        break;
      }
      case 1: {
        char const* g = below(4) == 0 ? "" : pick(kGroups);
        leave(local_, vlan, g);
        what << "local leave " << vlan << " '" << g << "'";
        break;
      }
      case 2: {
        char const* g = pick(kGroups);
        char const* s = pick(kSources);
        char const* i = pick(kIntfs);
        join(peer_, vlan, g, s, i);
        what << "peer join " << vlan << " " << g << " " << s << " " << i;
        break;
      }
      case 3: {
        char const* g = pick(kGroups);
        char const* s = pick(kSources);
        int const depth = static_cast<int>(below(3));
        char const* i = depth == 2 ? pick(kIntfs) : "";
        leave(peer_, vlan, g, depth >= 1 ? s : "", i);
        what << "peer leave " << vlan << " " << g << " depth " << depth << " " << i;
        break;
      }
      case 4: {
        char const* g = pick(kMapGroups);
        auto const& r = pick(kRoutes);
        map(tunnel_, vlan, g, {route(r.first, r.second)});
        what << "map " << vlan << " '" << g << "' route " << r.first << " " << r.second;
        break;
      }
      case 5: {
        char const* g = pick(kMapGroups);
        auto const& r = pick(kRoutes);
        if (auto m = tunnel_.vlanToMulticastGroupMutable(key(vlan, g))) m->multicastGroupDel(route(r.first, r.second));
        what << "route del " << vlan << " '" << g << "' " << r.first << " " << r.second;
        break;
      }
      case 6: {
        char const* g = pick(kMapGroups);
        unmap(tunnel_, vlan, g);
        what << "unmap " << vlan << " '" << g << "'";
        break;
      }
      case 7: {
        unsigned short const member = pick(kMembers);
        unsigned short const sbd = pick(kSbds);
        irb_.vlanToSbdIs({member, sbd});
        what << "sbd " << member << " -> " << sbd;
        break;
      }
      default: {
        unsigned short const member = pick(kMembers);
        irb_.vlanToSbdDel(member);
        what << "sbd " << member << " none";
        break;
      }
    }
    return what.str();
  }

 private:
  unsigned below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng_); }
  template <class A>
  typename A::value_type const& pick(A const& a) {
    return a[below(static_cast<unsigned>(a.size()))];
  }

  Irb::Multicast::Gmp::MembershipJoinStatus& local_;
  Irb::Multicast::Gmp::MembershipJoinStatus& peer_;
  Routing::Multicast::IpTunnelVlanGroupStatus& tunnel_;
  Irb::Multicast::McastIrbStatus& irb_;
  std::mt19937_64 rng_;
};

using VpnInjectSmRandomized = VpnInjectSmTest;

TEST_F(VpnInjectSmRandomized, InPlaceChangesKeepTheJoinsEqualToTheReferenceModel) {
  for (std::uint64_t seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    // Fresh inputs and path per seed.
    vpn = nullptr;
    gmp = Routing::Gmp::Brim::Status::statusIs();
    tunnel = Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
    irb = Irb::Multicast::McastIrbStatus::mcastIrbStatusIs();
    local = Irb::Multicast::Gmp::MembershipJoinStatus::membershipJoinStatusIs("local");
    peer = Irb::Multicast::Gmp::MembershipJoinStatus::membershipJoinStatusIs("peer1");
    coll->localMembershipIs(local);
    coll->peerMembershipIs(peer);
    sched->randomBudgetIs(seed, 4);  // walks yield at random points

    InPlaceChanges changes(*local, *peer, *tunnel, *irb, seed);
    std::vector<std::string> log;
    for (int i = 0; i < 20; ++i) log.push_back(changes.apply());  // before the start
    start();
    for (int i = 0; i < 300; ++i) {
      log.push_back(changes.apply());
      Joins const running = settle();
      Joins const wanted = model();
      if (running != wanted) {
        std::string trail;
        for (auto const& l : log) trail += "  " + l + "\n";
        FAIL() << "after change " << i << ":\n" << trail << "running: " << ::testing::PrintToString(running)
               << "\nwanted:  " << ::testing::PrintToString(wanted);
      }
    }
    vpn = nullptr;
    EXPECT_EQ(joins(*gmp), Joins{});
  }
}

}  // namespace
