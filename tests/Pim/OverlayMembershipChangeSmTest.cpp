// The overlay change tracker: one tracker per status of the membership join
// status collection, rebuilt whenever the entry under its name changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Pim/OverlayMembershipSm.h"
#include "Vorn/Exception.h"
#include "support/ChangeSetProbe.h"
#include "support/Inputs.h"
#include "support/TraceCapture.h"

namespace {

using namespace Irb::Multicast::Egress;
using Irb::Multicast::McastIrbStatus;
using Irb::Multicast::Gmp::MembershipJoinStatus;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using TestSupport::ChangeSetProbe;
using TestSupport::join;
using TestSupport::key;
using Keys = ChangeSetProbe::Keys;

constexpr char const* kHandle = "VpnInjectSm::OverlayMembership";

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

TEST_F(OverlayMembershipChangeSmTest, StartUpBuildsLocalTrackersAtGroupLevelBeforePeerTrackersAtInterfaceLevel) {
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

TEST_F(OverlayMembershipChangeSmTest, StartUpOverAnEmptyCollectionBuildsAndRecordsNothing) {
  build();
  EXPECT_TRUE(sm->localSm().empty());
  EXPECT_TRUE(sm->peerSm().empty());
  EXPECT_TRUE(sm->initialized());
  EXPECT_TRUE(probe.keys().empty());
  EXPECT_EQ(probe.bumps(), 0u);
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

TEST_F(OverlayMembershipChangeSmTest, RemovedPeerStatusLosesItsTrackerAfterReportingWhatItListed) {
  auto peer = statusWith("p", 10, "239.1.1.1");
  join(*peer, 20, "239.1.1.2", "10.0.0.1", "Ethernet1");
  coll->peerMembershipIs(peer);
  build();
  probe.take();
  coll->peerMembershipDel("p");
  EXPECT_TRUE(sm->peerSm().empty());
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.1"), key(20, "239.1.1.2")}));
  probe.take();
  join(*peer, 30, "239.1.1.3");
  EXPECT_EQ(probe.bumps(), 0u) << "the removed status is no longer followed";
}

TEST_F(OverlayMembershipChangeSmTest, NameInBothCollectionsGetsTwoIndependentTrackers) {
  coll->localMembershipIs(statusWith("x", 10, "239.1.1.1"));
  coll->peerMembershipIs(statusWith("x", 20, "239.1.1.2"));
  build();
  auto peerTracker = sm->peerSm("x");
  ASSERT_TRUE(sm->localSm("x"));
  ASSERT_TRUE(peerTracker);
  EXPECT_NE(sm->localSm("x"), peerTracker);
  coll->localMembershipDel("x");
  EXPECT_FALSE(sm->localSm("x"));
  EXPECT_EQ(sm->peerSm("x"), peerTracker) << "the peer tracker is not rebuilt";
}

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

TEST_F(OverlayMembershipChangeSmTest, TakingTheCollectionOutStopsRebuildsButKeepsTrackers) {
  auto local = statusWith("a", 10, "239.1.1.1");
  coll->localMembershipIs(local);
  build();
  probe.take();
  EXPECT_EQ(sm->joinStatusCollDel(), coll);
  coll->localMembershipIs(statusWith("b", 20, "239.1.1.2"));
  EXPECT_FALSE(sm->localSm("b"));
  EXPECT_EQ(probe.bumps(), 0u);
  join(*local, 10, "239.1.1.3");
  EXPECT_EQ(probe.keys(), (Keys{key(10, "239.1.1.3")}));
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

}  // namespace
