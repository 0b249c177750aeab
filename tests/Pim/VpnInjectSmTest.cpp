// The VPN inject path end to end: built through vpnInjectSmFactory on a real
// task scheduler, driven by in-place changes of real inputs, judged by the
// Joins in the underlay status table once the scheduler is idle. This
// executable runs with "PimL3TunnelInject" on: Joins are (*,G). Random
// sequences of every kind of input change, judged against the reference
// model and a fresh start, are in RandomizedVpnTest; the tests here pin the
// wiring, the switches, the setters and the teardown.
#include "Pim/VpnInjectSm.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "Pim/JoinKey.h"
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
RouteIntfKey starG6(std::string_view group, unsigned short vlan) { return joinKey("::", group, vlan); }

class VpnInjectSmTest : public VpnTopFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Irb::Multicast::Egress::togglePimL3TunnelInjectEnabled())
        << "this executable must run with PimL3TunnelInject on (the default toggle directory)";
  }
};

// ---- the wiring --------------------------------------------------------------------------

using VpnInjectSmEndToEnd = VpnInjectSmTest;

TEST_F(VpnInjectSmEndToEnd, FactoryBuildsThePipelineOnTheReducedStatusTracingHandleInitialized) {
  map(*tunnel, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  TraceCapture trace("VpnInjectSm=8");
  start();
  // The reviewer is built last, inside the top level's handleInitialized, its
  // mapping reactors before its own handleInitialized.
  EXPECT_EQ(trace.texts("VpnInjectSm", 8),
            (std::vector<std::string>{
                "void Irb::Multicast::Egress::VpnInjectSm::handleInitialized()",
                "void Irb::Multicast::Egress::VpnInjectReviewSm::VlanToMulticastGroup::handleVlanToMulticastGroup()",
                "void Irb::Multicast::Egress::VpnInjectReviewSm::handleInitialized()"}));
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

// The IRB status, or null, reaches every consumer; without it no reactor is
// built and everything else is built as usual.
TEST_F(VpnInjectSmEndToEnd, IrbStatusOrNullIsHandedToEveryConsumer) {
  for (bool const withIrb : {false, true}) {
    SCOPED_TRACE(withIrb ? "with an IRB status" : "without an IRB status");
    start(withIrb);
    ASSERT_TRUE(vpn->initialized());
    Vorn::Ptr<Irb::Multicast::McastIrbStatus const> const want = withIrb ? irbConst() : nullptr;
    EXPECT_EQ(vpn->hasMcastIrbStatusReactor(), withIrb);
    EXPECT_EQ(vpn->vornMcastIrbStatus() != nullptr, withIrb);
    EXPECT_EQ(vpn->mcastIrbStatus(), want);
    EXPECT_EQ(vpn->sbdToVlanSm()->mcastIrbStatus(), want);
    EXPECT_EQ(vpn->ipTunnelVlanGroupReduceSm()->mcastIrbStatus(), want);
    EXPECT_EQ(vpn->overlayMembershipChangeSm()->mcastIrbStatus(), want);
    EXPECT_TRUE(vpn->sbdToVlanStatus());
    EXPECT_TRUE(vpn->reducedVlanGroupStatus());
    EXPECT_TRUE(vpn->sbdVlanChangeSm());
    EXPECT_TRUE(vpn->vpnInjectReviewSm());
  }
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
  auto last = vpn->vpnInjectReviewSm();
  EXPECT_NE(again(), last);
  // Dropped before it walks: kept, it would be a second writer of the table,
  // and its start-up cleanup would remove the Joins its own dedup table lacks.
  last = nullptr;
  EXPECT_EQ(settle(), Joins{starG("225.1.1.1", 10)});
  leave(*local, 10, "239.1.1.1");
  EXPECT_EQ(settle(), Joins{});
}

TEST_F(VpnInjectSmSetters, OwnedPartsAreReusedForTheSameInputsAndReplacedForOthers) {
  start();
  auto const sbd = vpn->sbdToVlanStatus();
  auto const reduced = vpn->reducedVlanGroupStatus();
  auto const writer = vpn->underlayInjectNotifiee();
  auto const table = vpn->underlayInjectDedupTable();
  auto const irbIn = irbConst();
  auto const sbdSm = vpn->sbdToVlanSm();
  auto const overlaySm = vpn->overlayMembershipChangeSm();
  EXPECT_EQ(vpn->sbdToVlanStatusIs(), sbd);
  EXPECT_EQ(vpn->underlayInjectNotifieeIs(gmp), writer);
  EXPECT_EQ(vpn->underlayInjectDedupTableIs(writer), table);
  EXPECT_EQ(vpn->sbdToVlanSmIs(irbIn, sbd), sbdSm);
  EXPECT_EQ(vpn->ipTunnelVlanGroupReduceSmIs(tunnel, irbIn, sbd, sched, reduced), vpn->ipTunnelVlanGroupReduceSm());
  EXPECT_EQ(vpn->overlayMembershipChangeSmIs(coll, irbIn, reduced, vpn->changeSet()), overlaySm);
  EXPECT_EQ(vpn->sbdVlanChangeSmIs(sbd, reduced, vpn->changeSet()), vpn->sbdVlanChangeSm());

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
  // Other inputs, another state machine, switched on.
  auto const newSbdSm = vpn->sbdToVlanSmIs(irbIn, Irb::Multicast::SbdToVlanStatus::sbdToVlanStatusIs());
  EXPECT_NE(newSbdSm, sbdSm);
  EXPECT_EQ(vpn->sbdToVlanSm(), newSbdSm);
  EXPECT_TRUE(newSbdSm->hasNotificationActive());
  auto const newOverlaySm = vpn->overlayMembershipChangeSmIs(coll, nullptr, reduced, vpn->changeSet());
  EXPECT_NE(newOverlaySm, overlaySm);
  EXPECT_EQ(vpn->overlayMembershipChangeSm(), newOverlaySm);
  // The reduced status is reused under its name, keeping its parent, and
  // replaced under another, the old one detached.
  reduced->parentIs(tunnel.ptr());
  EXPECT_EQ(vpn->reducedVlanGroupStatusIs(Vorn::String(stringValue(Routing::Multicast::irbRemoteReduced()))), reduced);
  EXPECT_EQ(reduced->parent(), tunnel.ptr());
  auto const fresh = vpn->reducedVlanGroupStatusIs(Vorn::String("irbRemote"));
  EXPECT_NE(fresh, reduced);
  EXPECT_EQ(vpn->reducedVlanGroupStatus(), fresh);
  EXPECT_EQ(fresh->name(), Vorn::String("irbRemote"));
  EXPECT_TRUE(fresh->hasNotificationActive());
  EXPECT_EQ(reduced->parent(), nullptr);
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

// The owned statuses, the writer and the table are released but stay on; the
// IRB status takes its reactor with it, and the top level still switches the rest.
TEST_F(VpnInjectSmSetters, DelReleasesOwnedPartsWithoutSwitchingThemOffAndIrbDelDetachesTheReactor) {
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

  EXPECT_EQ(vpn->mcastIrbStatusDel(), irb);
  EXPECT_FALSE(vpn->hasMcastIrbStatusReactor());
  EXPECT_FALSE(vpn->mcastIrbStatus());
  EXPECT_FALSE(vpn->mcastIrbStatusDel());
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
  start();
  settle();
  // An entry another writer (the GMP agent, say) put into the same table once
  // the start-up cleanup is over.
  RouteIntfKey const foreign = joinKey("10.5.5.5", "225.9.9.9", 20);
  gmp->membershipIs({foreign, 1});
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
