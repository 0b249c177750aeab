// The change tracker of one membership join status: which overlay VLAN group
// keys each change of the status records into the change set, and how often
// the counter moves.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "Brim/BrimMapBase.h"
#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Vorn/Exception.h"
#include "support/ChangeSetProbe.h"
#include "support/Inputs.h"
#include "support/TraceCapture.h"

namespace {

using namespace Irb::Multicast::Egress;
using Irb::Multicast::McastIrbStatus;
using Irb::Multicast::VlanToSbd;
using Irb::Multicast::Gmp::GroupMembershipJoin;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Irb::Multicast::Gmp::SourceMembershipJoin;
using Irb::Multicast::Gmp::VlanMembershipJoin;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using TestSupport::addr;
using TestSupport::ChangeSetProbe;
using TestSupport::intf;
using TestSupport::join;
using TestSupport::key;
using TestSupport::leave;
using TestSupport::map;
using Keys = ChangeSetProbe::Keys;

constexpr char const* kHandle = "VpnInjectSm::OverlayMembership";

// A group entry with sources, each listing the given interfaces.
Vorn::Ptr<GroupMembershipJoin> groupWith(std::string_view group,
                                         std::vector<std::pair<std::string_view, std::vector<std::string_view>>> sources) {
  auto g = GroupMembershipJoin::groupMembershipJoinIs(addr(group));
  for (auto const& [source, intfs] : sources) {
    auto s = SourceMembershipJoin::sourceMembershipJoinIs(addr(source));
    for (auto name : intfs) s->includeIntfIs(intf(name));
    g->sourceIs(s);
  }
  return g;
}

Vorn::Ptr<SourceMembershipJoin> sourceWith(std::string_view source, std::vector<std::string_view> intfs) {
  auto s = SourceMembershipJoin::sourceMembershipJoinIs(addr(source));
  for (auto name : intfs) s->includeIntfIs(intf(name));
  return s;
}

// Runs `f`, which must raise the null-argument exception; returns its type
// and attribute.
template <class F>
std::pair<std::string, std::string> nullArgumentOf(F f) {
  try {
    f();
  } catch (Vorn::MutatorNullArgumentException const& e) {
    return {e.type(), e.attribute()};
  }
  ADD_FAILURE() << "no MutatorNullArgumentException";
  return {};
}

class LocalMembershipChangeSmTest : public ::testing::Test {
 protected:
  // Builds the tracker over the present status and forgets what its
  // start-up recorded.
  void track(Mode mode) {
    tracker = localMembershipChangeSmFactory(mode, status, irb, tunnel, changeSet);
    probe.take();
  }
  Vorn::Ptr<VlanMembershipJoin> vlan(unsigned short v) { return status->vlanMutable(v); }

  Vorn::Ptr<MembershipJoinStatus> status = MembershipJoinStatus::membershipJoinStatusIs("local");
  Vorn::Ptr<McastIrbStatus> irb = McastIrbStatus::mcastIrbStatusIs();
  Vorn::Ptr<IpTunnelVlanGroupStatus> tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(
      Routing::Multicast::stringValue(Routing::Multicast::irbRemoteReduced()));
  Vorn::Ptr<OverlayChangeSet> changeSet = overlayChangeSetFactory();
  ChangeSetProbe probe{changeSet};
  Vorn::Ptr<LocalMembershipChangeSm> tracker;
};

// ---- the change rule -----------------------------------------------------------

// One group joining VLAN 10 (VLAN 10 in SBD VLAN 4000 or not) over the
// mappings listed: the keys it records, the bumps, and the change trace.
struct RuleCase {
  char const* name;
  bool inSbd;
  std::vector<std::pair<unsigned short, char const*>> mappings;
  char const* group;  // nullptr: a group of no family
  Keys keys;
  unsigned bumps;
  std::vector<std::string> trace;  // checked when not empty
};

void PrintTo(RuleCase const& c, std::ostream* os) { *os << c.name; }

class LocalMembershipChangeRuleTest : public LocalMembershipChangeSmTest,
                                      public ::testing::WithParamInterface<RuleCase> {};

TEST_P(LocalMembershipChangeRuleTest, GroupJoiningRecordsTheKeysOfTheRule) {
  RuleCase const& c = GetParam();
  if (c.inSbd) irb->vlanToSbdIs(VlanToSbd{10, 4000});
  for (auto const& [v, g] : c.mappings) map(*tunnel, v, g);
  if (!c.group) join(*status, 10);
  track(Mode::groupLevel);
  TestSupport::TraceCapture trace(std::string(kHandle) + "=9");
  if (c.group) {
    join(*status, 10, c.group);
  } else {
    vlan(10)->groupIs(GroupMembershipJoin::groupMembershipJoinIs(Wirl::IpGenAddr()));
  }
  EXPECT_EQ(probe.keys(), c.keys);
  EXPECT_EQ(probe.bumps(), c.bumps) << "one event, one bump";
  if (!c.trace.empty()) {
    EXPECT_EQ(trace.texts(kHandle, 9), c.trace);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rule, LocalMembershipChangeRuleTest,
    ::testing::Values(
        RuleCase{"SpecificGroupRecordsItsVlanKeyEvenWithoutAMapping", false, {}, "239.1.1.1",
                 {key(10, "239.1.1.1")}, 1, {}},
        RuleCase{"SpecificGroupInSbdMemberVlanRecordsMemberVlanKeyTooNotOnlySbdVlanKey", true, {}, "239.1.1.1",
                 {key(10, "239.1.1.1"), key(4000, "239.1.1.1")}, 1, {}},
        RuleCase{"WildcardGroupRecordsEveryMappingOfItsVlanOnceEachTraced", false,
                 {{10, "0.0.0.0"}, {10, "239.1.1.1"}, {20, "239.1.1.1"}}, "0.0.0.0",
                 {key(10, "0.0.0.0"), key(10, "239.1.1.1")}, 1,
                 {"Changed  (10, 0.0.0.0)", "Changed  (10, 239.1.1.1)"}},
        RuleCase{"Ipv6UnspecifiedGroupIsAWildcard", false, {{10, ""}, {10, "ff3e::1"}, {11, "ff3e::1"}}, "::",
                 {key(10, ""), key(10, "ff3e::1")}, 1, {}},
        RuleCase{"FamilyLessGroupIsHandledAsWildcard", false, {{10, "0.0.0.0"}, {10, "239.1.1.1"}}, nullptr,
                 {key(10, "0.0.0.0"), key(10, "239.1.1.1")}, 1, {}},
        RuleCase{"WildcardGroupWithoutAnyMappingRecordsNothingAndLeavesTheCounter", false, {{20, "239.1.1.1"}},
                 "0.0.0.0", {}, 0, {}},
        RuleCase{"WildcardGroupInSbdMemberVlanRecordsSbdVlanMappingsTooNotOnlyItsOwn", true,
                 {{10, "0.0.0.0"}, {20, "239.1.1.1"}, {4000, ""}, {4000, "239.2.2.2"}}, "0.0.0.0",
                 {key(10, "0.0.0.0"), key(4000, ""), key(4000, "239.2.2.2")}, 1, {}},
        RuleCase{"WildcardGroupInSbdMemberVlanWithMappingsOnlyOnTheSbdVlanStillCountsAsAChange", true,
                 {{4000, "239.2.2.2"}}, "0.0.0.0", {key(4000, "239.2.2.2")}, 1, {}}),
    [](::testing::TestParamInfo<RuleCase> const& i) { return std::string(i.param.name); });

TEST_F(LocalMembershipChangeSmTest, HandlersTraceTheirVlanAndGroup) {
  join(*status, 10, "239.1.1.1");
  TestSupport::TraceCapture trace(std::string(kHandle) + "=8");
  track(Mode::groupLevel);
  EXPECT_EQ(trace.texts(kHandle, 8), (std::vector<std::string>{"handleVlan(10)", "handleGroup : 10 (239.1.1.1)",
                                                               "groupChanged : 10 (239.1.1.1)"}));
  trace.clear();
  join(*status, 10, "239.1.1.2");
  EXPECT_EQ(trace.texts(kHandle, 8),
            (std::vector<std::string>{"handleGroup : 10 (239.1.1.2)", "groupChanged : 10 (239.1.1.2)"}));
}

// ---- the IRB status ------------------------------------------------------------------

TEST_F(LocalMembershipChangeSmTest, CorruptedVlanToSbdReadIsReportedReadsAsNoSbdVlanAndProcessingGoesOn) {
  std::vector<std::string> reports;
  Brim::BrimMapBase::reporterIs([&](std::string const& table, std::string const&) { reports.push_back(table); });
  irb->vlanToSbdIs(VlanToSbd{10, 4000});
  track(Mode::groupLevel);
  irb->vlanToSbdTable().corruptNextReadIs(true);
  join(*status, 10, "239.1.1.1");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1")})) << "the default value: no SBD VLAN";
  EXPECT_EQ(probe.bumps(), 1u);
  EXPECT_EQ(irb->vlanToSbdTable().corruptionsDetected(), 1u);
  EXPECT_EQ(reports, (std::vector<std::string>{irb->vlanToSbdTable().tableName()}));
  probe.take();
  join(*status, 10, "239.1.1.2");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.2"), key(4000, "239.1.1.2")}));
  Brim::BrimMapBase::reporterIs(nullptr);
}

TEST_F(LocalMembershipChangeSmTest, WithoutIrbStatusEveryVlanHasNoSbdVlan) {
  map(*tunnel, 10, "239.1.1.1");
  map(*tunnel, 4000, "239.1.1.1");
  tracker = localMembershipChangeSmFactory(Mode::groupLevel, status, nullptr, tunnel, changeSet);
  join(*status, 10, "239.1.1.2");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.2")}));
  EXPECT_EQ(probe.bumps(), 1u);
  probe.take();
  join(*status, 10, "0.0.0.0");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
}

// ---- levels ----------------------------------------------------------------------------

TEST_F(LocalMembershipChangeSmTest, GroupLevelIgnoresSourcesAndInterfacesButNotTheGroup) {
  join(*status, 10, "239.1.1.1");
  track(Mode::groupLevel);
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  join(*status, 10, "239.1.1.1", "10.0.0.2", "Ethernet2");
  leave(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  leave(*status, 10, "239.1.1.1", "10.0.0.2");
  EXPECT_TRUE(probe.keys().empty());
  EXPECT_EQ(probe.bumps(), 0u);
  EXPECT_TRUE(tracker->vlanMembership(10)->groupMembership().empty()) << "no group reactors at group level";
  leave(*status, 10, "239.1.1.1");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
}

TEST_F(LocalMembershipChangeSmTest, InterfaceLevelRecordsInterfaceChangesExceptTunnelInterfaces) {
  join(*status, 10, "239.1.1.1", "10.0.0.1");
  track(Mode::interfaceLevel);
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Vxlan1");
  EXPECT_EQ(probe.bumps(), 0u) << "the multicast tunnel interface does not count";
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
  probe.take();
  leave(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1")})) << "a removal counts as an addition does";
  EXPECT_EQ(probe.bumps(), 1u);
  probe.take();
  leave(*status, 10, "239.1.1.1", "10.0.0.1", "Vxlan1");
  EXPECT_EQ(probe.bumps(), 0u);
}

TEST_F(LocalMembershipChangeSmTest, InterfaceLevelSourceComingOrGoingCountsOnlyWithANonTunnelInterface) {
  join(*status, 10, "239.1.1.1");
  track(Mode::interfaceLevel);
  auto group = vlan(10)->groupMutable(addr("239.1.1.1"));
  group->sourceIs(sourceWith("10.0.0.1", {"Vxlan1"}));
  EXPECT_EQ(probe.bumps(), 0u);
  group->sourceIs(sourceWith("10.0.0.2", {"Vxlan1", "Ethernet2"}));
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
  probe.take();
  group->sourceDel(addr("10.0.0.1"));
  EXPECT_EQ(probe.bumps(), 0u);
  group->sourceDel(addr("10.0.0.2"));
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
}

TEST_F(LocalMembershipChangeSmTest, InterfaceLevelNewGroupReportsForItselfAndOncePerJoinedSource) {
  join(*status, 10);
  track(Mode::interfaceLevel);
  vlan(10)->groupIs(groupWith("239.1.1.1", {{"10.0.0.1", {"Ethernet1"}},
                                            {"10.0.0.2", {"Vxlan1"}},
                                            {"10.0.0.3", {"Ethernet3", "Vxlan1"}}}));
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 3u) << "the group, then each source with a non-tunnel interface";
}

TEST_F(LocalMembershipChangeSmTest, InterfaceLevelRemovedGroupReportsOnceMoreAndIsNoLongerFollowed) {
  join(*status, 10);
  auto group = groupWith("239.1.1.1", {{"10.0.0.1", {"Ethernet1"}}});
  vlan(10)->groupIs(group);
  track(Mode::interfaceLevel);
  leave(*status, 10, "239.1.1.1");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 2u) << "the group, and its source that still lists Ethernet1";
  probe.take();
  group->sourceMutable(addr("10.0.0.1"))->includeIntfIs(intf("Ethernet2"));
  EXPECT_EQ(probe.bumps(), 0u) << "the removed group's reactors are gone";
}

// ---- removal, start-up and teardown ----------------------------------------------------------

TEST_F(LocalMembershipChangeSmTest, RemovingVlanEntryThatStillListsGroupsRecordsEachOfThem) {
  join(*status, 10, "239.1.1.1");
  join(*status, 10, "239.1.1.2");
  join(*status, 20, "239.1.1.3");
  track(Mode::groupLevel);
  leave(*status, 10);
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(10, "239.1.1.2")}));
  EXPECT_EQ(probe.bumps(), 2u);
  EXPECT_EQ(tracker->vlanMembership(10), nullptr);
}

TEST_F(LocalMembershipChangeSmTest, RemovingEmptiedVlanEntryRecordsNothing) {
  join(*status, 10, "239.1.1.1");
  track(Mode::groupLevel);
  leave(*status, 10, "239.1.1.1");
  probe.take();
  leave(*status, 10);
  EXPECT_TRUE(probe.keys().empty());
  EXPECT_EQ(probe.bumps(), 0u);
}

TEST_F(LocalMembershipChangeSmTest, StartUpRecordsEveryGroupTheStatusHolds) {
  join(*status, 10, "239.1.1.1");
  join(*status, 10, "239.1.1.2");
  join(*status, 20, "239.1.1.3");
  tracker = localMembershipChangeSmFactory(Mode::groupLevel, status, irb, tunnel, changeSet);
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(10, "239.1.1.2"), key(20, "239.1.1.3")}));
  EXPECT_EQ(probe.bumps(), 3u);
  EXPECT_EQ(tracker->name(), Vorn::String("local"));
}

TEST_F(LocalMembershipChangeSmTest, DroppingTheTrackerRecordsEverythingTheStatusStillLists) {
  join(*status, 10, "239.1.1.1");
  join(*status, 20, "239.1.1.3", "10.0.0.1", "Ethernet1");
  track(Mode::interfaceLevel);
  tracker = nullptr;
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(20, "239.1.1.3")}));
  EXPECT_EQ(probe.bumps(), 3u) << "two groups, and the source that lists Ethernet1";
  probe.take();
  join(*status, 10, "239.1.1.2");
  EXPECT_EQ(probe.bumps(), 0u);
}

TEST_F(LocalMembershipChangeSmTest, TakingTheStatusOutStopsNewVlansButKeepsFollowingKnownOnes) {
  join(*status, 10, "239.1.1.1");
  track(Mode::groupLevel);
  EXPECT_EQ(tracker->membershipJoinStatusDel(), status);
  EXPECT_EQ(tracker->name(), Vorn::String(""));
  EXPECT_EQ(probe.bumps(), 0u) << "taking the status reactor out reports nothing";
  join(*status, 20, "239.1.1.3");
  EXPECT_EQ(probe.bumps(), 0u);
  join(*status, 10, "239.1.1.2");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.2")}));
}

// ---- replacement of an object by another with the same key ------------------------------------

TEST_F(LocalMembershipChangeSmTest, ReplacingVlanEntryByEqualContentRecordsNothing) {
  join(*status, 10, "239.1.1.1");
  track(Mode::groupLevel);
  auto other = VlanMembershipJoin::vlanMembershipJoinIs(10);
  other->groupIs(GroupMembershipJoin::groupMembershipJoinIs(addr("239.1.1.1")));
  status->vlanIs(other);
  EXPECT_TRUE(probe.keys().empty());
  EXPECT_EQ(probe.bumps(), 0u);
  join(*status, 10, "239.1.1.2");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.2")})) << "the reactor follows the new object";
}

TEST_F(LocalMembershipChangeSmTest, ReplacingVlanEntryRecordsTheGroupsOnlyOneOfTheObjectsListsAndTheirSbdKeys) {
  struct Case {
    char const* name;
    bool servedBySbd;
    Keys recorded;
  };
  Case const cases[] = {
      {"plain VLAN", false, {key(10, "239.1.1.1"), key(10, "239.1.1.3")}},
      {"SBD member VLAN", true,
       {key(10, "239.1.1.1"), key(10, "239.1.1.3"), key(4000, "239.1.1.1"), key(4000, "239.1.1.3")}},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    status = MembershipJoinStatus::membershipJoinStatusIs("local");
    irb = McastIrbStatus::mcastIrbStatusIs();
    if (c.servedBySbd) irb->vlanToSbdIs(VlanToSbd{10, 4000});
    join(*status, 10, "239.1.1.1");
    join(*status, 10, "239.1.1.2");
    track(Mode::groupLevel);
    auto other = VlanMembershipJoin::vlanMembershipJoinIs(10);
    other->groupIs(GroupMembershipJoin::groupMembershipJoinIs(addr("239.1.1.2")));
    other->groupIs(GroupMembershipJoin::groupMembershipJoinIs(addr("239.1.1.3")));
    status->vlanIs(other);
    EXPECT_EQ(probe.keys(), c.recorded);
    EXPECT_EQ(probe.bumps(), 2u);
  }
}

TEST_F(LocalMembershipChangeSmTest, ReplacingVlanEntryAtInterfaceLevelMovesGroupReactorsToTheNewObject) {
  join(*status, 10);
  auto oldKept = groupWith("239.1.1.2", {{"10.0.0.2", {"Ethernet2"}}});
  auto oldGone = groupWith("239.1.1.1", {{"10.0.0.1", {"Ethernet1"}}});
  vlan(10)->groupIs(oldGone);
  vlan(10)->groupIs(oldKept);
  track(Mode::interfaceLevel);

  auto other = VlanMembershipJoin::vlanMembershipJoinIs(10);
  auto newKept = groupWith("239.1.1.2", {{"10.0.0.2", {"Ethernet2"}}});
  other->groupIs(newKept);
  other->groupIs(groupWith("239.1.1.3", {{"10.0.0.3", {"Ethernet3"}}}));
  status->vlanIs(other);
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(10, "239.1.1.3")}))
      << "239.1.1.2 joined on the same interfaces in both objects";

  probe.take();
  newKept->sourceMutable(addr("10.0.0.2"))->includeIntfIs(intf("Ethernet4"));
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.2")})) << "the kept group follows its new object";
  probe.take();
  oldKept->sourceMutable(addr("10.0.0.2"))->includeIntfIs(intf("Ethernet5"));
  oldGone->sourceMutable(addr("10.0.0.1"))->includeIntfIs(intf("Ethernet5"));
  EXPECT_EQ(probe.bumps(), 0u) << "the old objects are no longer followed";
  other->groupMutable(addr("239.1.1.3"))->sourceDel(addr("10.0.0.3"));
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.3")})) << "the new group is followed down to its sources";
}

TEST_F(LocalMembershipChangeSmTest, ReplacingSourceObjectRecordsTheGroupOnlyWhenNonTunnelInterfacesDiffer) {
  join(*status, 10, "239.1.1.1");
  auto group = vlan(10)->groupMutable(addr("239.1.1.1"));
  group->sourceIs(sourceWith("10.0.0.1", {"Ethernet1", "Vxlan1"}));
  track(Mode::interfaceLevel);
  group->sourceIs(sourceWith("10.0.0.1", {"Ethernet1"}));
  EXPECT_EQ(probe.bumps(), 0u) << "the same non-tunnel interfaces";
  auto moved = sourceWith("10.0.0.1", {"Ethernet2"});
  group->sourceIs(moved);
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
  probe.take();
  moved->includeIntfDel(intf("Ethernet2"));
  EXPECT_EQ(probe.bumps(), 1u) << "the reactor follows the new source object";
}

// ---- mutators and notification ---------------------------------------------------------------

TEST_F(LocalMembershipChangeSmTest, NullJoinsRaiseNamingTypeAndAttributeAndChangeNothing) {
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  track(Mode::interfaceLevel);
  auto vlanSm = tracker->vlanMembership(10);
  ASSERT_TRUE(vlanSm);
  auto groupReactor = vlanSm->groupMembership(addr("239.1.1.1"));
  ASSERT_TRUE(groupReactor);

  EXPECT_EQ(nullArgumentOf([&] { tracker->vlanMembershipIs(nullptr); }),
            (std::pair<std::string, std::string>{"Irb::Multicast::Egress::LocalMembershipChangeSm", "vlanMembership"}));
  EXPECT_EQ(nullArgumentOf([&] { vlanSm->groupMembershipIs(nullptr); }),
            (std::pair<std::string, std::string>{"Irb::Multicast::Egress::LocalMembershipChangeSm::VlanSm",
                                                 "groupMembership"}));
  EXPECT_EQ(nullArgumentOf([&] { groupReactor->sourceMembershipIs(nullptr); }),
            (std::pair<std::string, std::string>{
                "Irb::Multicast::Egress::LocalMembershipChangeSm::VlanSm::VornGroupMembership", "sourceMembership"}));
  EXPECT_EQ(tracker->vlanMembership().size(), 1u);
  EXPECT_EQ(vlanSm->groupMembership().size(), 1u);
  EXPECT_EQ(groupReactor->sourceMembership().size(), 1u);
  EXPECT_EQ(probe.bumps(), 0u);
}

TEST_F(LocalMembershipChangeSmTest, SwitchedOffTrackerRecordsNothingUntilSwitchedBackOn) {
  join(*status, 10, "239.1.1.1", "10.0.0.1");
  track(Mode::interfaceLevel);
  tracker->hasNotificationActiveIs(false);
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet1");
  join(*status, 10, "239.1.1.2");
  join(*status, 20, "239.1.1.3");
  EXPECT_EQ(probe.bumps(), 0u);
  tracker->hasNotificationActiveIs(true);
  join(*status, 10, "239.1.1.1", "10.0.0.1", "Ethernet2");
  join(*status, 30, "239.1.1.4");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(30, "239.1.1.4")}));
}

// ---- many groups in a VLAN, many sources in a group --------------------------------------------

TEST_F(LocalMembershipChangeSmTest, InterfaceLevelFollowsEachOfManyGroupsAndSourcesAsTheyComeAndGo) {
  join(*status, 10);
  track(Mode::interfaceLevel);
  auto vlanSm = tracker->vlanMembership(10);
  ASSERT_TRUE(vlanSm);
  // Out of order, so that reactors land before, between and after others.
  for (char const* g : {"239.1.1.5", "239.1.1.1", "239.1.1.9", "239.1.1.3", "239.1.1.7"}) {
    vlan(10)->groupIs(groupWith(g, {{"10.0.0.5", {"Ethernet1"}}, {"10.0.0.1", {"Vxlan1"}}, {"10.0.0.3", {}}}));
  }
  ASSERT_EQ(vlanSm->groupMembership().size(), 5u);
  EXPECT_EQ(vlanSm->groupMembership().keys(),
            (std::vector<Wirl::IpGenAddr>{addr("239.1.1.1"), addr("239.1.1.3"), addr("239.1.1.5"), addr("239.1.1.7"),
                                          addr("239.1.1.9")}));
  probe.take();
  // Every source of every group is followed: a non-tunnel interface on the
  // middle source of each group records exactly that group.
  for (char const* g : {"239.1.1.1", "239.1.1.3", "239.1.1.5", "239.1.1.7", "239.1.1.9"}) {
    auto reactor = vlanSm->groupMembership(addr(g));
    ASSERT_TRUE(reactor) << g;
    EXPECT_EQ(reactor->sourceMembership().size(), 3u);
    vlan(10)->groupMutable(addr(g))->sourceMutable(addr("10.0.0.3"))->includeIntfIs(intf("Ethernet2"));
    EXPECT_EQ(probe.keys(), (Keys{key(10, g)})) << g;
    EXPECT_EQ(probe.bumps(), 1u) << g;
    probe.take();
  }
  // Sources go from the middle and the ends down to none; each one that still
  // lists a non-tunnel interface reports once more.
  auto group = vlan(10)->groupMutable(addr("239.1.1.5"));
  group->sourceDel(addr("10.0.0.3"));
  EXPECT_EQ(probe.bumps(), 1u);
  group->sourceDel(addr("10.0.0.1"));
  EXPECT_EQ(probe.bumps(), 1u) << "a tunnel-only source leaves without a report";
  EXPECT_EQ(vlanSm->groupMembership(addr("239.1.1.5"))->sourceMembership().size(), 1u);
  group->sourceMutable(addr("10.0.0.5"))->includeIntfIs(intf("Ethernet3"));
  EXPECT_EQ(probe.bumps(), 2u) << "the last source is still followed";
  group->sourceDel(addr("10.0.0.5"));
  EXPECT_EQ(probe.bumps(), 3u);
  EXPECT_TRUE(vlanSm->groupMembership(addr("239.1.1.5"))->sourceMembership().empty());
  probe.take();
  // Groups go from the middle; the others are still followed.
  leave(*status, 10, "239.1.1.5");
  leave(*status, 10, "239.1.1.1");
  leave(*status, 10, "239.1.1.9");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(10, "239.1.1.5"), key(10, "239.1.1.9")}));
  EXPECT_EQ(vlanSm->groupMembership().keys(), (std::vector<Wirl::IpGenAddr>{addr("239.1.1.3"), addr("239.1.1.7")}));
  probe.take();
  vlan(10)->groupMutable(addr("239.1.1.7"))->sourceMutable(addr("10.0.0.1"))->includeIntfIs(intf("Ethernet4"));
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.7")}));
  probe.take();
  leave(*status, 10, "239.1.1.7");
  vlan(10)->groupMutable(addr("239.1.1.3"))->sourceMutable(addr("10.0.0.1"))->includeIntfIs(intf("Ethernet4"));
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.3"), key(10, "239.1.1.7")}));
  EXPECT_EQ(vlanSm->groupMembership().size(), 1u);
}

TEST_F(LocalMembershipChangeSmTest, FinalPassReportsGroupsAndTheirSourcesInAddressOrder) {
  join(*status, 10);
  for (char const* g : {"239.1.1.3", "239.1.1.1", "239.1.1.2"}) {
    vlan(10)->groupIs(groupWith(g, {{"10.0.0.2", {"Ethernet1"}}, {"10.0.0.1", {"Ethernet2"}}}));
  }
  track(Mode::interfaceLevel);
  TestSupport::TraceCapture trace(std::string(kHandle) + "=8");
  tracker = nullptr;
  std::vector<std::string> const changed{"groupChanged : 10 (239.1.1.1)", "groupChanged : 10 (239.1.1.2)",
                                         "groupChanged : 10 (239.1.1.3)"};
  std::vector<std::string> expected{"handleVlan(10)"};
  for (auto const& line : changed) {
    expected.push_back("handleGroup" + line.substr(std::string("groupChanged").size()));
    expected.push_back(line);
  }
  // Then each group reactor's sources, group by group, two sources each.
  for (auto const& line : changed) expected.insert(expected.end(), 2, line);
  EXPECT_EQ(trace.texts(kHandle, 8), expected);
  EXPECT_EQ(probe.bumps(), 9u);
}

TEST_F(LocalMembershipChangeSmTest, ManyVlansAreEachFollowedAndEachRemovalReportsItsOwnGroups) {
  for (unsigned short v : {30, 10, 50, 20, 40}) join(*status, v, "239.1.1.1", "10.0.0.1", "Ethernet1");
  track(Mode::interfaceLevel);
  ASSERT_EQ(tracker->vlanMembership().size(), 5u);
  for (unsigned short v : {10, 20, 30, 40, 50}) {
    ASSERT_TRUE(tracker->vlanMembership(v)) << v;
    EXPECT_EQ(tracker->vlanMembership(v)->vlanId(), Bridging::VlanId(v));
  }
  leave(*status, 30);
  EXPECT_EQ(probe.keys(), (Keys{key(30, "239.1.1.1")}));
  EXPECT_EQ(tracker->vlanMembership(30), nullptr);
  probe.take();
  join(*status, 40, "239.1.1.1", "10.0.0.1", "Ethernet2");
  join(*status, 35, "239.1.1.2");
  EXPECT_EQ(probe.keys(), (Keys{key(35, "239.1.1.2"), key(40, "239.1.1.1")}));
  EXPECT_EQ(tracker->vlanMembership().size(), 5u);
}

// ---- the SBD VLAN read of a pass ----------------------------------------------------------------

// Arms the IRB table's corruption once the change set receives its first key:
// a read after that moment raises.
class ArmCorruptionOnFirstKey : public Vorn::NotifieeConstOf<OverlayChangeSet> {
 public:
  ArmCorruptionOnFirstKey(Vorn::Ptr<OverlayChangeSet> const& changeSet, Vorn::Ptr<McastIrbStatus> irb)
      : irb_(std::move(irb)) {
    notifierIs(changeSet);
    isRegisteredNotifieeIs(true);
    hasNotificationActiveIs(true);
  }
  void onAttribute(Vorn::AttributeId attribute, Vorn::Key const&) override {
    if (attribute != OverlayChangeSet::attrVlanGroup || armed_) return;
    armed_ = true;
    irb_->vlanToSbdTable().corruptNextReadIs(true);
  }

 private:
  Vorn::Ptr<McastIrbStatus> irb_;
  bool armed_ = false;
};

TEST_F(LocalMembershipChangeSmTest, PassOverAVlansGroupsReadsItsSbdVlanOnceButASingleChangeReadsAgain) {
  irb->vlanToSbdIs(VlanToSbd{10, 4000});
  join(*status, 10, "239.1.1.1");
  join(*status, 10, "239.1.1.2");
  join(*status, 10, "239.1.1.3");
  auto arm = Vorn::make<ArmCorruptionOnFirstKey>(changeSet, irb);
  tracker = localMembershipChangeSmFactory(Mode::groupLevel, status, irb, tunnel, changeSet);
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(10, "239.1.1.2"), key(10, "239.1.1.3"),
                                key(4000, "239.1.1.1"), key(4000, "239.1.1.2"), key(4000, "239.1.1.3")}));
  EXPECT_EQ(irb->vlanToSbdTable().corruptionsDetected(), 0u) << "the start-up pass read the table once";
  EXPECT_TRUE(irb->vlanToSbdTable().corruptNextRead());
  probe.take();
  join(*status, 10, "239.1.1.4");
  EXPECT_EQ(irb->vlanToSbdTable().corruptionsDetected(), 1u) << "a change outside a pass reads";
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.4")}));
}

TEST_F(LocalMembershipChangeSmTest, DamagedReadInAPassIsNotKeptTheNextGroupReadsAgain) {
  std::vector<std::string> reports;
  Brim::BrimMapBase::reporterIs([&](std::string const& table, std::string const&) { reports.push_back(table); });
  irb->vlanToSbdIs(VlanToSbd{10, 4000});
  join(*status, 10, "239.1.1.1");
  join(*status, 10, "239.1.1.2");
  join(*status, 10, "239.1.1.3");
  irb->vlanToSbdTable().corruptNextReadIs(true);
  tracker = localMembershipChangeSmFactory(Mode::groupLevel, status, irb, tunnel, changeSet);
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(10, "239.1.1.2"), key(10, "239.1.1.3"),
                                key(4000, "239.1.1.2"), key(4000, "239.1.1.3")}));
  EXPECT_EQ(irb->vlanToSbdTable().corruptionsDetected(), 1u);
  EXPECT_EQ(reports.size(), 1u);
  Brim::BrimMapBase::reporterIs(nullptr);
}

}  // namespace
