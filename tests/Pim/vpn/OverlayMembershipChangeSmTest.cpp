// The change trackers and the status collection where the randomized suite
// does not reach: switching trackers off and on, a status in both roles of the
// collection, a tracker asked for under a taken name, and the SBD VLAN change
// tracker (any change of an SBD VLAN's members, and an SBD VLAN coming or
// going, records every mapping of that SBD VLAN and bumps the counter; a state
// replaced by one with the same members records nothing).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Vorn/Exception.h"
#include "support/ChangeSetProbe.h"
#include "support/Inputs.h"
#include "support/TraceCapture.h"

namespace {

using namespace Irb::Multicast::Egress;
using Irb::Multicast::McastIrbStatus;
using Irb::Multicast::SbdToVlanStatus;
using Irb::Multicast::SbdVlanState;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using Routing::Multicast::OverlayVlanGroup;
using TestSupport::ChangeSetProbe;
using TestSupport::join;
using TestSupport::key;
using Keys = ChangeSetProbe::Keys;
using Events = std::vector<std::string>;

constexpr char const* kHandle = "VpnInjectSm::OverlayMembership";

// ---- overlay change tracker ------------------------------------------------------------

// A status of `name` joined to `group` in `vlan`.
Vorn::Ptr<MembershipJoinStatus> statusWith(char const* name, unsigned short vlan, std::string_view group) {
  auto s = MembershipJoinStatus::membershipJoinStatusIs(name);
  join(*s, vlan, group);
  return s;
}

class OverlayMembershipChangeSmTest : public ::testing::Test {
 protected:
  void build() { sm = overlayMembershipChangeSmFactory(coll, irb, tunnel, changeSet); }

  Vorn::Ptr<MembershipJoinStatusColl> coll = membershipJoinStatusCollFactory();
  Vorn::Ptr<McastIrbStatus> irb = McastIrbStatus::mcastIrbStatusIs();
  Vorn::Ptr<IpTunnelVlanGroupStatus> tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(
      Routing::Multicast::stringValue(Routing::Multicast::irbRemoteReduced()));
  Vorn::Ptr<OverlayChangeSet> changeSet = overlayChangeSetFactory();
  ChangeSetProbe probe{changeSet};
  Vorn::Ptr<OverlayMembershipChangeSm> sm;
};

// ---- rebuilds -----------------------------------------------------------------------

TEST_F(OverlayMembershipChangeSmTest, SwitchingNotificationOffLeavesPeerTrackersOn) {
  auto local = statusWith("a", 10, "239.1.1.1");
  auto peer = statusWith("p", 20, "239.1.1.2");
  coll->localMembershipIs(local);
  coll->peerMembershipIs(peer);
  build();
  probe.take();
  sm->hasNotificationActiveIs(false);
  join(*local, 10, "239.1.1.3");
  coll->localMembershipIs(statusWith("b", 30, "239.1.1.4"));
  EXPECT_EQ(probe.bumps(), 0u);
  EXPECT_FALSE(sm->localSm("b"));
  join(*peer, 20, "239.1.1.2", "10.0.0.1", "Ethernet1");
  EXPECT_EQ(probe.keys(), (Keys{key(20, "239.1.1.2")}));
}

// A tracker is never re-pointed: asking for one under a name that has a
// tracker for another status object is refused, the existing one stays.
TEST_F(OverlayMembershipChangeSmTest, AnotherStatusUnderATrackedNameIsRefused) {
  coll->localMembershipIs(statusWith("a", 10, "239.1.1.1"));
  build();
  auto tracker = sm->localSm("a");
  EXPECT_THROW(sm->localSmIs(Mode::groupLevel, statusWith("a", 10, "239.1.1.1"), irb, tunnel, changeSet),
               Vorn::ReinstantiationException);
  EXPECT_EQ(sm->localSm("a"), tracker);
}

// A tracker switched off misses the changes meanwhile and follows the next ones.
TEST_F(OverlayMembershipChangeSmTest, SwitchedOffTrackerRecordsNothingUntilSwitchedBackOn) {
  auto status = statusWith("local", 10, "239.1.1.1");
  join(*status, 10, "239.1.1.1", "10.0.0.1");
  auto tracker = localMembershipChangeSmFactory(Mode::interfaceLevel, status, irb, tunnel, changeSet);
  probe.take();
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

// One status in both roles of the collection is read by each role its own way.
TEST_F(OverlayMembershipChangeSmTest, OneStatusInBothRolesIsReadByEachRoleItsOwnWay) {
  auto status = MembershipJoinStatus::membershipJoinStatusIs("peer1");
  coll->localMembershipIs(status);
  coll->peerMembershipIs(status);
  auto const active = [&] { return coll->groupActive(10, TestSupport::addr("239.1.1.1")); };
  join(*status, 10, "239.1.1.1", "0.0.0.0", "Vxlan1");  // counts locally, not for a peer
  EXPECT_TRUE(active());
  coll->localMembershipDel("peer1");
  EXPECT_FALSE(active());
  join(*status, 10, "239.1.1.1", "0.0.0.0", "Ethernet1");
  EXPECT_TRUE(active());
}

// ---- SBD VLAN change tracker ------------------------------------------------------------

using Members = std::vector<unsigned short>;
using SbdVlans = std::map<unsigned short, Members>;

Vorn::Ptr<SbdVlanState> stateWith(unsigned short sbdVlan, Members const& members) {
  auto s = SbdVlanState::sbdVlanStateIs(sbdVlan);
  for (auto v : members) s->vlanIdIs(v);
  return s;
}

// The mappings of SBD VLAN 4000.
Keys sbd4000Keys() { return Keys{key(4000, "0.0.0.0"), key(4000, "239.1.1.1")}; }

// A tracker over an SBD-to-VLAN status, recording into a change set. The
// tunnel status maps VLAN 10 and SBD VLANs 4000 and 4001 (not 4002).
struct Rig {
  Rig() {
    TestSupport::map(*tunnel, 10, "239.1.1.1");
    TestSupport::map(*tunnel, 4000, "0.0.0.0");
    TestSupport::map(*tunnel, 4000, "239.1.1.1");
    TestSupport::map(*tunnel, 4001, "239.1.1.2");
  }
  // Puts SBD VLAN states with these members into the status.
  void put(SbdVlans const& sbdVlans) {
    for (auto const& [sbdVlan, members] : sbdVlans) status->sbdVlanStateIs(stateWith(sbdVlan, members));
  }
  // Starts the tracker on `sbdVlans` and forgets what its start recorded.
  void track(SbdVlans const& sbdVlans) {
    put(sbdVlans);
    sm = sbdVlanChangeSmFactory(status, tunnel, changeSet);
    probe.take();
  }
  Vorn::Ptr<SbdVlanState> state(unsigned short sbdVlan) const { return status->sbdVlanStateMutable(sbdVlan); }

  Vorn::Ptr<SbdToVlanStatus> status = SbdToVlanStatus::sbdToVlanStatusIs();
  Vorn::Ptr<IpTunnelVlanGroupStatus> tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(
      Routing::Multicast::stringValue(Routing::Multicast::irbRemoteReduced()));
  Vorn::Ptr<OverlayChangeSet> changeSet = overlayChangeSetFactory();
  ChangeSetProbe probe{changeSet};
  Vorn::Ptr<SbdVlanChangeSm> sm;
};

// A change records the mappings of its SBD VLAN and no other, with one bump
// (even with nothing to record); a replacement with the same members records
// nothing. The tracker follows exactly the SBD VLANs of the status.
TEST(SbdVlanChangeSm, EachChangeRecordsTheMappingsOfItsSbdVlanOnlyWithOneBump) {
  struct Case {
    char const* name;
    SbdVlans before;
    std::function<void(Rig&)> change;
    Keys recorded;
    std::uint32_t bumps;
  };
  Case const cases[] = {
      {"member added", {{4000, {}}}, [](Rig& r) { r.state(4000)->vlanIdIs(10); }, sbd4000Keys(), 1},
      {"member removed", {{4000, {10, 11}}}, [](Rig& r) { r.state(4000)->vlanIdDel(11); }, sbd4000Keys(), 1},
      {"SBD VLAN without mappings", {{4002, {}}}, [](Rig& r) { r.state(4002)->vlanIdIs(10); }, {}, 1},
      {"SBD VLAN created", {}, [](Rig& r) { r.put({{4000, {10}}}); }, sbd4000Keys(), 1},
      {"SBD VLAN removed", {{4000, {10}}}, [](Rig& r) { r.status->sbdVlanStateDel(4000); }, sbd4000Keys(), 1},
      {"state replaced, same members", {{4000, {10, 11}}}, [](Rig& r) { r.put({{4000, {10, 11}}}); }, {}, 0},
      {"state replaced, other members", {{4000, {10, 11}}}, [](Rig& r) { r.put({{4000, {10}}}); }, sbd4000Keys(), 1},
      {"state replaced, as many other members", {{4000, {10, 11}}}, [](Rig& r) { r.put({{4000, {10, 12}}}); },
       sbd4000Keys(), 1},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.track(c.before);
    c.change(r);
    EXPECT_EQ(r.probe.keys(), c.recorded);
    EXPECT_EQ(r.probe.bumps(), c.bumps);
    EXPECT_EQ(r.sm->sbdState().size(), r.status->sbdVlanState().size());
  }
}

}  // namespace
