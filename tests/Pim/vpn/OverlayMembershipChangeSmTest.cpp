// The change set and the change trackers that fill it: the overlay change
// tracker (one tracker per status of the membership join status collection,
// rebuilt whenever the entry under its name changes) and the SBD VLAN change
// tracker (any change of an SBD VLAN's members, and an SBD VLAN coming or
// going, records every mapping of that SBD VLAN and bumps the counter).
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
#include "support/Recorder.h"
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

// ---- change set ----------------------------------------------------------------------------

class OverlayChangeSetTest : public ::testing::Test {
 protected:
  using SetRecorder = TestSupport::Recorder<OverlayChangeSet, OverlayVlanGroup>;

  Vorn::Ptr<OverlayChangeSet> set_ = overlayChangeSetFactory();
  Vorn::Ptr<SetRecorder> rec_ = SetRecorder::on(set_);
};

TEST_F(OverlayChangeSetTest, AddingAPresentKeyNotifiesNothingButTheCounterStillDoes) {
  set_->vlanGroupIs(key(10, "239.1.1.1"));
  set_->vlanGroupIs(key(10, "239.1.1.1"));
  EXPECT_EQ(set_->changedInc(1), 1u);
  EXPECT_EQ(rec_->events, (Events{"1:(10, 239.1.1.1)", "2:"}));
  EXPECT_TRUE(set_->vlanGroup(key(10, "239.1.1.1")));
  EXPECT_EQ(set_->vlanGroup().size(), 1u);
}

TEST_F(OverlayChangeSetTest, DeletingReportsPresenceAndNotifiesOnlyARemoval) {
  set_->vlanGroupIs(key(10));
  rec_->events.clear();
  EXPECT_FALSE(set_->vlanGroupDel(key(10, "239.1.1.1")));
  EXPECT_TRUE(rec_->events.empty());
  EXPECT_TRUE(set_->vlanGroupDel(key(10)));
  EXPECT_EQ(rec_->events, (Events{"1:(10, *)"}));
  EXPECT_FALSE(set_->vlanGroup(key(10)));
}

TEST_F(OverlayChangeSetTest, DeleteAllRemovesEveryKeyOneByOne) {
  set_->vlanGroupIs(key(20, "239.1.1.1"));
  set_->vlanGroupIs(key(10, "0.0.0.0"));
  rec_->events.clear();
  set_->vlanGroupDelAll();
  EXPECT_EQ(rec_->events, (Events{"1:(10, 0.0.0.0)", "1:(20, 239.1.1.1)"}));
  EXPECT_TRUE(set_->vlanGroup().empty());
  EXPECT_EQ(set_->changed(), 0u);  // the counter is not touched
}

TEST_F(OverlayChangeSetTest, CounterNotifiesOnlyWhenItsValueChangesAndWrapsAtThirtyTwoBits) {
  set_->changedIs(0);
  set_->changedInc(0);
  EXPECT_TRUE(rec_->events.empty());
  set_->changedIs(7);
  set_->changedIs(7);
  EXPECT_EQ(rec_->events, (Events{"2:"}));
  EXPECT_EQ(set_->changedInc(3), 10u);
  EXPECT_EQ(set_->changed(), 10u);
  EXPECT_EQ(rec_->events.size(), 2u);

  set_->changedIs(UINT32_MAX);
  rec_->events.clear();
  EXPECT_EQ(set_->changedInc(1), 0u);
  EXPECT_EQ(set_->changed(), 0u);
  EXPECT_EQ(rec_->events, (Events{"2:"}));
  EXPECT_EQ(set_->changedInc(UINT32_MAX), UINT32_MAX);  // 0 - 1
}

TEST_F(OverlayChangeSetTest, IterationCanStartAtAGivenKeyAndSurvivesRemovals) {
  for (unsigned short v : {10, 20, 30}) set_->vlanGroupIs(key(v, "239.1.1.1"));
  std::vector<OverlayVlanGroup> seen;
  for (auto it = set_->vlanGroup().lowerBound(key(20, "239.1.1.1")); it != set_->vlanGroup().end(); ++it) {
    OverlayVlanGroup const k = *it;
    seen.push_back(k);
    set_->vlanGroupDel(k);
  }
  EXPECT_EQ(seen, (std::vector<OverlayVlanGroup>{key(20, "239.1.1.1"), key(30, "239.1.1.1")}));
  EXPECT_EQ(set_->vlanGroup().size(), 1u);
}

// ---- overlay change tracker ------------------------------------------------------------

// A status of `name` joined to `group` in `vlan`.
Vorn::Ptr<MembershipJoinStatus> statusWith(char const* name, unsigned short vlan, std::string_view group) {
  auto s = MembershipJoinStatus::membershipJoinStatusIs(name);
  join(*s, vlan, group);
  return s;
}

// Restores the aborting assertion handler whatever the test does.
struct ThrowingAssertions {
  ThrowingAssertions() : previous(Vorn::assertionHandlerIs(Vorn::throwingAssertionHandler)) {}
  ~ThrowingAssertions() { Vorn::assertionHandlerIs(previous); }
  Vorn::AssertionHandler previous;
};

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

// ---- start-up -----------------------------------------------------------------------

// Over an empty collection nothing is built or recorded; over statuses,
// local trackers at group level come before peer trackers at interface level.
TEST_F(OverlayMembershipChangeSmTest, StartUpBuildsLocalTrackersAtGroupLevelBeforePeerTrackersAtInterfaceLevel) {
  build();
  EXPECT_TRUE(sm->localSm().empty());
  EXPECT_TRUE(sm->peerSm().empty());
  EXPECT_TRUE(sm->initialized());
  EXPECT_EQ(probe.bumps(), 0u);
  sm = nullptr;

  coll->localMembershipIs(statusWith("a", 10, "239.1.1.1"));
  coll->localMembershipIs(statusWith("b", 20, "239.1.1.2"));
  coll->peerMembershipIs(statusWith("p", 30, "239.1.1.3"));
  TestSupport::TraceCapture trace(std::string(kHandle) + "=8");
  build();

  ASSERT_EQ(sm->localSm().size(), 2u);
  ASSERT_EQ(sm->peerSm().size(), 1u);
  EXPECT_EQ(sm->localSm("a")->mode(), Mode::groupLevel);
  EXPECT_EQ(sm->localSm("b")->mode(), Mode::groupLevel);
  EXPECT_EQ(sm->peerSm("p")->mode(), Mode::interfaceLevel);
  EXPECT_EQ(sm->peerSm("p")->membershipJoinStatus(), coll->peerMembership("p"));
  EXPECT_TRUE(sm->initialized());
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(20, "239.1.1.2"), key(30, "239.1.1.3")}));

  std::vector<std::string> sweep;
  for (auto const& text : trace.texts(kHandle, 8)) {
    if (text.rfind("handleLocal", 0) == 0 || text.rfind("handlePeer", 0) == 0 || text.rfind("void", 0) == 0)
      sweep.push_back(text);
  }
  EXPECT_EQ(sweep, (std::vector<std::string>{"void Irb::Multicast::Egress::OverlayMembershipChangeSm::handleInitialized()",
                                             "handleLocalMembership(a)", "handleLocalMembership(b)",
                                             "handlePeerMembership(p)"}));
}

TEST_F(OverlayMembershipChangeSmTest, StartUpInsistsOnTheReducedTunnelStatus) {
  ThrowingAssertions assertions;
  tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(
      Routing::Multicast::stringValue(Routing::Multicast::IpTunnelGroupStatusType::irbRemote));
  coll->localMembershipIs(statusWith("a", 10, "239.1.1.1"));
  try {
    build();
    ADD_FAILURE() << "the wiring assertion did not fire";
  } catch (Vorn::AssertionFailure const& e) {
    EXPECT_EQ(e.condition(), "tunnelVlanGroupStatus()->name() == stringValue( Routing::Multicast::irbRemoteReduced() )");
  }
  EXPECT_EQ(probe.bumps(), 0u) << "no tracker was built";
}

// ---- rebuilds -----------------------------------------------------------------------

TEST_F(OverlayMembershipChangeSmTest, ReplacedLocalStatusReportsOldAndNewContentAndKeepsOneTracker) {
  coll->localMembershipIs(statusWith("a", 10, "239.1.1.1"));
  build();
  probe.take();
  auto replacement = statusWith("a", 20, "239.1.1.2");
  TestSupport::TraceCapture trace(std::string(kHandle) + "=8");
  coll->localMembershipIs(replacement);
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(20, "239.1.1.2")}));
  ASSERT_EQ(sm->localSm().size(), 1u);
  EXPECT_EQ(sm->localSm("a")->membershipJoinStatus(), replacement);
  EXPECT_EQ(trace.texts(kHandle, 8).front(), "handleLocalMembership(a)");
}

// A name in both collections gets two independent trackers; a removed status
// loses its tracker after it reported what it listed.
TEST_F(OverlayMembershipChangeSmTest, RemovedStatusLosesItsTrackerAfterReportingWhatItListedAndOnlyThatOne) {
  coll->localMembershipIs(statusWith("x", 30, "239.1.1.3"));
  auto peer = statusWith("x", 10, "239.1.1.1");
  join(*peer, 20, "239.1.1.2", "10.0.0.1", "Ethernet1");
  coll->peerMembershipIs(peer);
  build();
  probe.take();
  auto peerTracker = sm->peerSm("x");
  ASSERT_TRUE(sm->localSm("x"));
  ASSERT_TRUE(peerTracker);
  EXPECT_NE(sm->localSm("x"), peerTracker);
  coll->localMembershipDel("x");
  EXPECT_FALSE(sm->localSm("x"));
  EXPECT_EQ(sm->peerSm("x"), peerTracker) << "the peer tracker is not rebuilt";
  EXPECT_EQ(probe.keys(), (Keys{key(30, "239.1.1.3")}));
  probe.take();
  peerTracker = nullptr;  // a tracker held elsewhere would go on following its status
  coll->peerMembershipDel("x");
  EXPECT_TRUE(sm->peerSm().empty());
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(20, "239.1.1.2")}));
  probe.take();
  join(*peer, 30, "239.1.1.3");
  EXPECT_EQ(probe.bumps(), 0u) << "the removed status is no longer followed";
}

// Changes inside a status reach its tracker without a rebuild, also once the
// collection is taken out (which stops the rebuilds).
TEST_F(OverlayMembershipChangeSmTest, ChangesInsideAStatusReachItsTrackerWithoutARebuild) {
  auto local = statusWith("a", 10, "239.1.1.1");
  coll->localMembershipIs(local);
  build();
  auto tracker = sm->localSm("a");
  probe.take();
  join(*local, 10, "239.1.1.2");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.2")}));
  EXPECT_EQ(probe.bumps(), 1u);
  EXPECT_EQ(sm->localSm("a"), tracker);
  probe.take();

  EXPECT_EQ(sm->joinStatusCollDel(), coll);
  coll->localMembershipIs(statusWith("b", 20, "239.1.1.2"));
  EXPECT_FALSE(sm->localSm("b"));
  EXPECT_EQ(probe.bumps(), 0u);
  join(*local, 10, "239.1.1.3");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.3")}));
  EXPECT_EQ(sm->localSm("a"), tracker);
}

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

TEST_F(OverlayMembershipChangeSmTest, DroppingTheStateMachineReportsEveryTrackersContent) {
  coll->localMembershipIs(statusWith("a", 10, "239.1.1.1"));
  coll->peerMembershipIs(statusWith("p", 20, "239.1.1.2"));
  build();
  probe.take();
  sm = nullptr;
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(20, "239.1.1.2")}));
  probe.take();
  coll->localMembershipIs(statusWith("b", 30, "239.1.1.3"));
  EXPECT_EQ(probe.bumps(), 0u);
}

// ---- instantiation ----------------------------------------------------------------------

TEST_F(OverlayMembershipChangeSmTest, InstantiationReturnsTheTrackerBuiltFromTheSameArgumentsAndRefusesOthers) {
  auto local = statusWith("a", 10, "239.1.1.1");
  coll->localMembershipIs(local);
  build();
  auto tracker = sm->localSm("a");
  probe.take();
  EXPECT_EQ(sm->localSmIs(Mode::groupLevel, local, irb, tunnel, changeSet), tracker);
  EXPECT_EQ(probe.bumps(), 0u) << "nothing rebuilt";
  EXPECT_THROW(sm->localSmIs(Mode::interfaceLevel, local, irb, tunnel, changeSet), Vorn::ReinstantiationException);
  EXPECT_THROW(sm->localSmIs(Mode::groupLevel, local, McastIrbStatus::mcastIrbStatusIs(), tunnel, changeSet),
               Vorn::ReinstantiationException);
  EXPECT_THROW(sm->localSmIs(Mode::groupLevel, statusWith("a", 10, "239.1.1.1"), irb, tunnel, changeSet),
               Vorn::ReinstantiationException);
  EXPECT_EQ(sm->localSm("a"), tracker) << "the existing tracker stays";

  try {
    sm->localSmIs(Mode::groupLevel, nullptr, irb, tunnel, changeSet);
    ADD_FAILURE() << "null status accepted";
  } catch (Vorn::MutatorNullArgumentException const& e) {
    EXPECT_EQ(e.attribute(), "membershipJoinStatus");
  }
  try {
    sm->peerSmIs(Mode::interfaceLevel, nullptr, irb, tunnel, changeSet);
    ADD_FAILURE() << "null status accepted";
  } catch (Vorn::MutatorNullArgumentException const& e) {
    EXPECT_EQ(e.attribute(), "peerSm_MembershipJoinStatus");
  }
  EXPECT_TRUE(sm->peerSm().empty());
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

TEST(SbdVlanChangeSm, StartUpAndTeardownRecordEverySbdVlanWithABumpEach) {
  Rig r;
  r.put({{4000, {10}}, {4001, {11}}, {4002, {12}}});
  r.sm = sbdVlanChangeSmFactory(r.status, r.tunnel, r.changeSet);
  Keys const all{key(4000, "0.0.0.0"), key(4000, "239.1.1.1"), key(4001, "239.1.1.2")};
  EXPECT_EQ(r.probe.keys(), all);
  EXPECT_EQ(r.probe.bumps(), 3u);
  r.probe.take();
  r.sm = nullptr;
  EXPECT_EQ(r.probe.keys(), all);
  EXPECT_EQ(r.probe.bumps(), 3u);
  r.probe.take();
  r.state(4000)->vlanIdIs(12);
  EXPECT_EQ(r.probe.bumps(), 0u) << "a dropped tracker follows nothing";
}

TEST(SbdVlanChangeSm, ReplacedStateObjectIsTheOneFollowedAndTheTraceNamesItsSbdVlan) {
  Rig r;
  r.track({{4000, {10, 11}}});
  auto replacement = stateWith(4000, {10});
  r.status->sbdVlanStateIs(replacement);
  r.probe.take();
  TestSupport::TraceCapture trace(std::string(kHandle) + "=8");
  replacement->vlanIdIs(12);
  EXPECT_EQ(r.probe.bumps(), 1u);
  EXPECT_EQ(trace.texts(kHandle, 8),
            (std::vector<std::string>{"void Irb::Multicast::Egress::SbdVlanChangeSm::VornSbdState::handleSbdStatus():4000"}));
}

TEST(SbdVlanChangeSm, NullStateRaisesNamingSbdStateAndChangesNothing) {
  Rig r;
  r.track({{4000, {10}}});
  try {
    r.sm->sbdStateIs(nullptr);
    ADD_FAILURE() << "null state accepted";
  } catch (Vorn::MutatorNullArgumentException const& e) {
    EXPECT_EQ(e.type(), "Irb::Multicast::Egress::SbdVlanChangeSm");
    EXPECT_EQ(e.attribute(), "sbdState");
  }
  EXPECT_EQ(r.sm->sbdState().size(), 1u);
  EXPECT_EQ(r.probe.bumps(), 0u);
}

TEST(SbdVlanChangeSm, WithoutAStatusNothingIsTracked) {
  Rig r;
  r.sm = sbdVlanChangeSmFactory(nullptr, r.tunnel, r.changeSet);
  EXPECT_TRUE(r.sm->sbdState().empty());
  r.sm = nullptr;
  EXPECT_EQ(r.probe.bumps(), 0u);
}

TEST(SbdVlanChangeSm, TakingTheStatusOutStopsNewSbdVlansButKeepsFollowingKnownOnes) {
  Rig r;
  r.track({{4000, {}}});
  EXPECT_EQ(r.sm->sbdToVlanStatusDel(), r.status);
  r.put({{4001, {}}});
  EXPECT_EQ(r.probe.bumps(), 0u);
  r.state(4000)->vlanIdIs(10);
  EXPECT_EQ(r.probe.bumps(), 1u);
}

}  // namespace
