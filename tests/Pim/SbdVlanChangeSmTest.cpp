// The SBD VLAN change tracker: any change of an SBD VLAN's members, and an SBD
// VLAN coming or going, records every mapping of that SBD VLAN and bumps the
// counter.
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
using Irb::Multicast::SbdToVlanStatus;
using Irb::Multicast::SbdVlanState;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using TestSupport::ChangeSetProbe;
using TestSupport::key;
using TestSupport::map;
using Keys = ChangeSetProbe::Keys;

constexpr char const* kHandle = "VpnInjectSm::OverlayMembership";

class SbdVlanChangeSmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    map(*tunnel, 10, "239.1.1.1");
    map(*tunnel, 4000, "0.0.0.0");
    map(*tunnel, 4000, "239.1.1.1");
  }
  // An SBD VLAN state with these members, put into the status.
  Vorn::Ptr<SbdVlanState> sbd(unsigned short sbdVlan, std::vector<unsigned short> members) {
    auto s = stateWith(sbdVlan, members);
    status->sbdVlanStateIs(s);
    return s;
  }
  static Vorn::Ptr<SbdVlanState> stateWith(unsigned short sbdVlan, std::vector<unsigned short> const& members) {
    auto s = SbdVlanState::sbdVlanStateIs(sbdVlan);
    for (auto v : members) s->vlanIdIs(v);
    return s;
  }
  void track() {
    sm = sbdVlanChangeSmFactory(status, tunnel, changeSet);
    probe.take();
  }

  Vorn::Ptr<SbdToVlanStatus> status = SbdToVlanStatus::sbdToVlanStatusIs();
  Vorn::Ptr<IpTunnelVlanGroupStatus> tunnel = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(
      Routing::Multicast::stringValue(Routing::Multicast::irbRemoteReduced()));
  Vorn::Ptr<OverlayChangeSet> changeSet = overlayChangeSetFactory();
  ChangeSetProbe probe{changeSet};
  Vorn::Ptr<SbdVlanChangeSm> sm;
};

TEST_F(SbdVlanChangeSmTest, AddingAMemberRecordsEveryMappingOfTheSbdVlanAndNoOther) {
  auto state = sbd(4000, {});
  track();
  state->vlanIdIs(10);
  EXPECT_EQ(probe.keys(), (Keys{key(4000, "0.0.0.0"), key(4000, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
}

TEST_F(SbdVlanChangeSmTest, RemovingAMemberRecordsTheSameKeys) {
  auto state = sbd(4000, {10, 11});
  track();
  state->vlanIdDel(11);
  EXPECT_EQ(probe.keys(), (Keys{key(4000, "0.0.0.0"), key(4000, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
}

TEST_F(SbdVlanChangeSmTest, SbdVlanWithoutMappingsRecordsNothingButStillBumpsTheCounter) {
  auto state = sbd(4001, {});
  track();
  state->vlanIdIs(10);
  EXPECT_TRUE(probe.keys().empty());
  EXPECT_EQ(probe.bumps(), 1u);
}

TEST_F(SbdVlanChangeSmTest, NewSbdVlanRecordsOnCreationAndAgainOnRemoval) {
  track();
  sbd(4000, {10});
  EXPECT_EQ(probe.keys(), (Keys{key(4000, "0.0.0.0"), key(4000, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
  probe.take();
  status->sbdVlanStateDel(4000);
  EXPECT_EQ(probe.keys(), (Keys{key(4000, "0.0.0.0"), key(4000, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
  EXPECT_FALSE(sm->sbdState(4000));
}

TEST_F(SbdVlanChangeSmTest, StartUpOverThreeSbdVlansRecordsAllAndBumpsTheCounterByThree) {
  map(*tunnel, 4001, "239.1.1.2");
  sbd(4000, {10});
  sbd(4001, {11});
  sbd(4002, {12});
  sm = sbdVlanChangeSmFactory(status, tunnel, changeSet);
  EXPECT_EQ(probe.keys(), (Keys{key(4000, "0.0.0.0"), key(4000, "239.1.1.1"), key(4001, "239.1.1.2")}));
  EXPECT_EQ(probe.bumps(), 3u);
}

TEST_F(SbdVlanChangeSmTest, DroppingTheStateMachineRecordsEverySbdVlanOnceMore) {
  map(*tunnel, 4001, "239.1.1.2");
  auto state = sbd(4000, {10});
  sbd(4001, {11});
  track();
  sm = nullptr;
  EXPECT_EQ(probe.keys(), (Keys{key(4000, "0.0.0.0"), key(4000, "239.1.1.1"), key(4001, "239.1.1.2")}));
  EXPECT_EQ(probe.bumps(), 2u);
  probe.take();
  state->vlanIdIs(12);
  EXPECT_EQ(probe.bumps(), 0u);
}

TEST_F(SbdVlanChangeSmTest, ReplacingTheStateObjectRecordsOnlyWhenTheMembersDiffer) {
  sbd(4000, {10, 11});
  track();
  status->sbdVlanStateIs(stateWith(4000, {10, 11}));
  EXPECT_EQ(probe.bumps(), 0u) << "the same members";
  auto replacement = stateWith(4000, {10});
  status->sbdVlanStateIs(replacement);
  EXPECT_EQ(probe.keys(), (Keys{key(4000, "0.0.0.0"), key(4000, "239.1.1.1")}));
  EXPECT_EQ(probe.bumps(), 1u);
  probe.take();
  replacement->vlanIdIs(12);
  EXPECT_EQ(probe.bumps(), 1u) << "the reactor follows the new object";
}

TEST_F(SbdVlanChangeSmTest, TraceNamesTheSbdVlan) {
  auto state = sbd(4000, {});
  track();
  TestSupport::TraceCapture trace(std::string(kHandle) + "=8");
  state->vlanIdIs(10);
  EXPECT_EQ(trace.texts(kHandle, 8),
            (std::vector<std::string>{"void Irb::Multicast::Egress::SbdVlanChangeSm::VornSbdState::handleSbdStatus():4000"}));
}

TEST_F(SbdVlanChangeSmTest, NullStateRaisesNamingSbdStateAndChangesNothing) {
  sbd(4000, {10});
  track();
  try {
    sm->sbdStateIs(nullptr);
    ADD_FAILURE() << "null state accepted";
  } catch (Vorn::MutatorNullArgumentException const& e) {
    EXPECT_EQ(e.type(), "Irb::Multicast::Egress::SbdVlanChangeSm");
    EXPECT_EQ(e.attribute(), "sbdState");
  }
  EXPECT_EQ(sm->sbdState().size(), 1u);
  EXPECT_EQ(probe.bumps(), 0u);
}

TEST_F(SbdVlanChangeSmTest, WithoutAStatusNothingIsTracked) {
  sm = sbdVlanChangeSmFactory(nullptr, tunnel, changeSet);
  EXPECT_TRUE(sm->sbdState().empty());
  EXPECT_EQ(probe.bumps(), 0u);
  sm = nullptr;
  EXPECT_EQ(probe.bumps(), 0u);
}

TEST_F(SbdVlanChangeSmTest, TakingTheStatusOutStopsNewSbdVlansButKeepsFollowingKnownOnes) {
  auto state = sbd(4000, {});
  track();
  EXPECT_EQ(sm->sbdToVlanStatusDel(), status);
  sbd(4001, {});
  EXPECT_EQ(probe.bumps(), 0u);
  state->vlanIdIs(10);
  EXPECT_EQ(probe.bumps(), 1u);
}

}  // namespace
