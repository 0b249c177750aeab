// The L3 inject path where inputs are removed wholesale or replaced by other
// objects, and where mappings are keyed by a non-specific group: in every case
// the running path ends up with the Joins a fresh start on the same inputs
// writes.
#include "Pim/L3InjectSm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Inputs.h"
#include "support/L3Fixture.h"
#include "support/TraceCapture.h"

namespace {

using namespace TestSupport;
using Irb::Multicast::Egress::L3InjectSm;
using Irb::Multicast::Egress::l3InjectSmFactory;
using Irb::Multicast::Gmp::GroupMembershipJoin;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Irb::Multicast::Gmp::VlanMembershipJoin;
using Routing::Gmp::Brim::Membership;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::UnderlayRoute;
using Routing::Multicast::VlanToMulticastGroup;
using JoinKeys = std::set<Routing::Gmp::Brim::RouteIntfKey>;

constexpr char const* kG1 = "239.1.1.1";
constexpr char const* kG2 = "239.1.1.2";
constexpr char const* kG3 = "239.1.1.3";

UnderlayRoute r1() { return route("10.0.0.1", "225.1.1.1"); }
UnderlayRoute r2() { return route("10.0.0.2", "225.1.1.2"); }
UnderlayRoute r3() { return route("10.0.0.3", "225.1.1.3"); }

// ---- a removed VLAN entry takes its groups' SMET with it ----------------------------------

class L3InjectSmVlanRemoval : public L3Fixture {};

TEST_F(L3InjectSmVlanRemoval, RemovingVlanEntryClearsSmetOfItsListedGroups) {
  join(*local, 10, kG1);
  join(*local, 10, kG2);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 10, kG2, {r2()});
  map(*tunnel, 10, "", {r3()});
  auto sm = start();
  ASSERT_EQ(current().size(), 3u);
  leave(*local, 10);  // the VLAN entry goes, still listing both groups
  EXPECT_TRUE(current().empty());
  EXPECT_FALSE(sm->vornVlanToMulticastGroup(key(10, kG1))->smet());
  EXPECT_FALSE(sm->vornVlanToMulticastGroup(key(10, kG2))->smet());
  EXPECT_EQ(current(), freshJoins());
}

// ---- SMET turning false leaves no handle behind ----------------------------------------------

class L3InjectSmSmetOff : public L3Fixture {};

TEST_F(L3InjectSmSmetOff, SmetTurningFalseReleasesRoutesNoLongerListed) {
  join(*local, 10, kG1);
  auto m = map(*tunnel, 10, kG1, {r1(), r2()});
  auto sm = start();
  ASSERT_EQ(current().size(), 2u);
  // While the path is switched off it misses the removal of r1 ...
  sm->hasNotificationActiveIs(false);
  m->multicastGroupDel(r1());
  sm->hasNotificationActiveIs(true);
  EXPECT_EQ(current().size(), 2u);
  // ... which its last local member leaving must not leave behind.
  leave(*local, 10, kG1);
  EXPECT_TRUE(current().empty());
  EXPECT_TRUE(sm->vornVlanToMulticastGroup(key(10, kG1))->underlayRoute().empty());
  EXPECT_EQ(current(), freshJoins());
}

// ---- re-pointing to another object: exactly the difference --------------------------------------

class L3InjectSmRebind : public L3Fixture {};

TEST_F(L3InjectSmRebind, RepointingMappingToOtherRoutesMovesExactlyTheDifference) {
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1(), r2()});
  auto sm = start();
  auto const isBefore = gmp->membershipIsCalls();
  auto const delBefore = gmp->membershipDelCalls();
  auto replacement = mapping(10, kG1, {r2(), r3()});
  tunnel->vlanToMulticastGroupIs(replacement);
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.2", 10), starG("225.1.1.3", 10)}));
  EXPECT_EQ(gmp->membershipIsCalls() - isBefore, 1u);   // r3 only
  EXPECT_EQ(gmp->membershipDelCalls() - delBefore, 1u);  // r1 only
  EXPECT_EQ(sm->vlanToMulticastGroup(key(10, kG1)), replacement);
  EXPECT_EQ(current(), freshJoins());
}

TEST_F(L3InjectSmRebind, RepointingMappingToEqualContentRunsNothing) {
  join(*local, 10, kG1);
  auto old = map(*tunnel, 10, kG1, {r1(), r2()});
  auto sm = start();
  auto const calls = gmp->membershipIsCalls() + gmp->membershipDelCalls();
  auto replacement = mapping(10, kG1, {r1(), r2()});
  {
    TraceCapture trace("Pim::L3InjectSm=0-9");
    tunnel->vlanToMulticastGroupIs(replacement);
    EXPECT_TRUE(trace.lines().empty());
  }
  EXPECT_EQ(gmp->membershipIsCalls() + gmp->membershipDelCalls(), calls);
  // The reactor follows the new object, no longer the old one.
  old->multicastGroupIs(r3());
  EXPECT_EQ(current().size(), 2u);
  replacement->multicastGroupIs(r3());
  EXPECT_EQ(current().size(), 3u);
}

TEST_F(L3InjectSmRebind, RepointingVlanEntryActsOnTheGroupsThatDiffer) {
  join(*local, 10, kG1);
  join(*local, 10, kG2);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 10, kG2, {r2()});
  map(*tunnel, 10, kG3, {r3()});
  auto sm = start();
  local->vlanIs(vlanEntry(10, {kG2, kG3}));
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.2", 10), starG("225.1.1.3", 10)}));
  EXPECT_EQ(current(), freshJoins());
}

TEST_F(L3InjectSmRebind, RepointingVlanEntryToEqualContentRunsNothing) {
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1()});
  auto sm = start();
  auto replacement = vlanEntry(10, {kG1});
  TraceCapture trace("Pim::L3InjectSm=0-9");
  local->vlanIs(replacement);
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_EQ(sm->vlanMembership(10), replacement);
  replacement->groupDel(addr(kG1));  // followed from now on
  EXPECT_TRUE(current().empty());
}

TEST_F(L3InjectSmRebind, ReplacingMembershipStatusResyncsToTheDifference) {
  join(*local, 10, kG1);
  join(*local, 20);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 10, kG2, {r2()});
  map(*tunnel, 20, "", {r3()});
  map(*tunnel, 30, "", {r3()});
  auto sm = start();
  auto other = MembershipJoinStatus::membershipJoinStatusIs("local");
  other->vlanIs(vlanEntry(10, {kG2}));
  other->vlanIs(vlanEntry(30, {}));
  TraceCapture trace("Pim::L3InjectSm=8");
  sm->membershipJoinStatusIs(other);
  local = other;
  // VLAN 10's reactor was re-pointed, not built again.
  EXPECT_EQ(trace.countContaining("smet Vlan10::handleVlanMembership"), 0u);
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.2", 10), starG("225.1.1.3", 30)}));
  EXPECT_EQ(current(), freshJoins());
  EXPECT_FALSE(sm->vornVlanMembership(20));
  // And the new status is the one followed.
  join(*other, 10, kG1);
  EXPECT_EQ(current(), freshJoins());
  EXPECT_EQ(current().size(), 3u);
}

TEST_F(L3InjectSmRebind, ReplacingMembershipStatusWithEqualContentRunsNothing) {
  join(*local, 10, kG1);
  join(*local, 20);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 20, "", {r2()});
  auto sm = start();
  auto other = MembershipJoinStatus::membershipJoinStatusIs("local");
  other->vlanIs(vlanEntry(10, {kG1}));
  other->vlanIs(vlanEntry(20, {}));
  auto const calls = gmp->membershipIsCalls() + gmp->membershipDelCalls();
  TraceCapture trace("Pim::L3InjectSm=0-9");
  sm->membershipJoinStatusIs(other);
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_EQ(gmp->membershipIsCalls() + gmp->membershipDelCalls(), calls);
  EXPECT_EQ(sm->membershipJoinStatus(), other);
}

TEST_F(L3InjectSmRebind, ReplacingTunnelStatusResyncsToTheDifference) {
  join(*local, 10, kG1);
  join(*local, 10, kG2);
  map(*tunnel, 10, kG1, {r1(), r2()});
  map(*tunnel, 10, kG2, {r3()});
  auto sm = start();
  auto other = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  other->vlanToMulticastGroupIs(mapping(10, kG1, {r2()}));
  sm->tunnelVlanGroupStatusIs(other);
  tunnel = other;
  EXPECT_EQ(current(), JoinKeys{starG("225.1.1.2", 10)});
  EXPECT_EQ(current(), freshJoins());
  EXPECT_EQ(sm->vornVlanToMulticastGroup().size(), 1u);
}

// ---- mappings keyed by a non-specific group are VLAN-wide ------------------------------------------

class L3InjectSmVlanWide : public L3Fixture {};

TEST_F(L3InjectSmVlanWide, WildcardKeyedMappingsFollowTheVlanEntryWhileRunning) {
  map(*tunnel, 10, "0.0.0.0", {r1()});
  map(*tunnel, 10, "::", {r2()});
  auto sm = start();
  EXPECT_TRUE(current().empty());
  join(*local, 10, kG1);  // a VLAN entry appears, with a specific group only
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.1", 10), starG("225.1.1.2", 10)}));
  EXPECT_EQ(current(), freshJoins());
  leave(*local, 10);
  EXPECT_TRUE(current().empty());
}

TEST_F(L3InjectSmVlanWide, WildcardGroupLeavingKeepsVlanWideSmetWhileTheVlanRemains) {
  join(*local, 10, "0.0.0.0");
  join(*local, 10, kG1);
  map(*tunnel, 10, "0.0.0.0", {r1()});
  map(*tunnel, 10, "", {r2()});
  auto sm = start();
  ASSERT_EQ(current().size(), 2u);
  leave(*local, 10, "0.0.0.0");
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.1", 10), starG("225.1.1.2", 10)}));
  EXPECT_EQ(current(), freshJoins());
}

TEST_F(L3InjectSmVlanWide, UnspecifiedGroupLeavingKeepsTheIPv6WildcardMapping) {
  join(*local, 10, "::");
  map(*tunnel, 10, "::", {route("2001:db8::1", "ff3e::225")});
  auto sm = start();
  ASSERT_EQ(current(), JoinKeys{joinKey("::", "ff3e::225", 10)});
  leave(*local, 10, "::");  // the VLAN entry stays, empty
  EXPECT_EQ(current(), JoinKeys{joinKey("::", "ff3e::225", 10)});
  EXPECT_EQ(current(), freshJoins());
  leave(*local, 10);
  EXPECT_TRUE(current().empty());
}

// ---- no membership status ---------------------------------------------------------------------------

class L3InjectSmNoStatus : public L3Fixture {};

TEST_F(L3InjectSmNoStatus, LookupWithoutMembershipStatusAnswersFalse) {
  join(*local, 10, kG1);
  auto sm = start();
  EXPECT_EQ(sm->membershipJoinStatusDel(), local);
  EXPECT_FALSE(sm->membershipJoinStatusDel());
  TraceCapture trace("Pim::L3InjectSm=8");
  tunnel->vlanToMulticastGroupIs(mapping(10, kG1, {r1()}));
  EXPECT_TRUE(current().empty());
  std::vector<std::string> const expected{
      "()::tunnel Vlan10 239.1.1.1::handleInit",
      "()::membershipJoinStatusLookup vlan10, 239.1.1.1",
      "()::membershipJoinStatusLookup no smet for vlan 10",
  };
  EXPECT_EQ(trace.texts("Pim::L3InjectSm", 8), expected);
  EXPECT_FALSE(sm->membershipJoinStatusLookup(10, addr("")));
}

TEST_F(L3InjectSmNoStatus, VlanReactorsStayAfterMembershipStatusDel) {
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1()});
  map(*tunnel, 10, kG2, {r2()});
  auto sm = start();
  sm->membershipJoinStatusDel();
  EXPECT_EQ(current(), JoinKeys{starG("225.1.1.1", 10)});
  join(*local, 10, kG2);  // the VLAN entry is still followed
  EXPECT_EQ(current(), (JoinKeys{starG("225.1.1.1", 10), starG("225.1.1.2", 10)}));
}

TEST_F(L3InjectSmNoStatus, ConstructionSkipsNullStatusesAndStillCleansUp) {
  gmp->membershipIs(Membership{starG("225.9.9.9", 10), 1});
  auto sm = l3InjectSmFactory(nullptr, nullptr, gmp);
  EXPECT_TRUE(sm->initialized());
  EXPECT_TRUE(gmp->entries().empty());
  EXPECT_FALSE(sm->membershipJoinStatus());
  // Statuses handed over later are taken up as a start would.
  join(*local, 10, kG1);
  map(*tunnel, 10, kG1, {r1()});
  sm->tunnelVlanGroupStatusIs(tunnel);
  sm->membershipJoinStatusIs(local);
  EXPECT_EQ(current(), JoinKeys{starG("225.1.1.1", 10)});
  EXPECT_EQ(current(), freshJoins());
  leave(*local, 10, kG1);
  EXPECT_TRUE(current().empty());
}

}  // namespace
