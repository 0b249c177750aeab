// The two state machines that fill the VPN path's own statuses: the inverse
// SBD view and the reduced tunnel VLAN group status.
#include <gtest/gtest.h>

#include <set>

#include "external/IpTunnelVlanGroupReduceSm.h"
#include "external/SbdToVlanSm.h"
#include "support/Inputs.h"

namespace {

using Bridging::VlanId;
using Irb::Multicast::McastIrbStatus;
using Irb::Multicast::SbdToVlanSm;
using Irb::Multicast::SbdToVlanStatus;
using Routing::Multicast::IpTunnelVlanGroupReduceSm;
using Routing::Multicast::IpTunnelVlanGroupStatus;
using TestSupport::key;
using TestSupport::route;

std::set<unsigned> members(SbdToVlanStatus const& s, unsigned short sbd) {
  std::set<unsigned> out;
  if (auto state = s.sbdVlanState(sbd))
    for (VlanId v : state->vlanId()) out.insert(v.value());
  return out;
}

class SbdToVlanSmTest : public ::testing::Test {
 protected:
  Vorn::Ptr<McastIrbStatus> irb = McastIrbStatus::mcastIrbStatusIs();
  Vorn::Ptr<SbdToVlanStatus> sbd = SbdToVlanStatus::sbdToVlanStatusIs();
};

TEST_F(SbdToVlanSmTest, StartUpBuildsTheInverseAndDropsWhatTheTableDoesNotName) {
  irb->vlanToSbdIs({10, 4000});
  irb->vlanToSbdIs({11, 4000});
  irb->vlanToSbdIs({20, 3000});
  auto first = SbdToVlanSm::SbdToVlanSmIs(irb, sbd);
  EXPECT_EQ(members(*sbd, 4000), (std::set<unsigned>{10, 11}));
  EXPECT_EQ(members(*sbd, 3000), (std::set<unsigned>{20}));
  EXPECT_EQ(sbd->sbdVlanState().size(), 2u);
  first = nullptr;
  // A new machine on the filled status, over another table: 10 is named
  // nowhere, 20 under another SBD VLAN than the status lists it under.
  auto other = McastIrbStatus::mcastIrbStatusIs();
  other->vlanToSbdIs({11, 4000});
  other->vlanToSbdIs({20, 4000});
  auto second = SbdToVlanSm::SbdToVlanSmIs(other, sbd);
  EXPECT_EQ(members(*sbd, 4000), (std::set<unsigned>{11, 20}));
  EXPECT_FALSE(sbd->sbdVlanState(3000));
  auto none = SbdToVlanSm::SbdToVlanSmIs(nullptr, sbd);
  EXPECT_TRUE(sbd->sbdVlanState().empty());
}

class ReduceSmTest : public ::testing::Test {
 protected:
  Vorn::Ptr<IpTunnelVlanGroupStatus> in = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  Vorn::Ptr<IpTunnelVlanGroupStatus> reduced = IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs(
      stringValue(Routing::Multicast::irbRemoteReduced()));
  Vorn::Ptr<IpTunnelVlanGroupReduceSm> start() {
    return IpTunnelVlanGroupReduceSm::IpTunnelVlanGroupReduceSmIs(in, nullptr, nullptr, nullptr, reduced);
  }
  std::set<Routing::Multicast::UnderlayRoute> routes(Routing::Multicast::OverlayVlanGroup const& k) {
    std::set<Routing::Multicast::UnderlayRoute> out;
    if (auto m = reduced->vlanToMulticastGroup(k))
      for (auto const& r : m->multicastGroup()) out.insert(r);
    return out;
  }
};

TEST_F(ReduceSmTest, StartSharesTheInputsObjectsReplacesOthersAndRemovesStaleOnes) {
  auto m1 = TestSupport::map(*in, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.2")});
  auto m2 = TestSupport::map(*in, 10, "", {route("10.0.0.1", "225.1.1.9")});
  // A reused status: another object under an input key, and a key the input lacks.
  auto old = TestSupport::map(*reduced, 10, "239.1.1.1", {route("10.0.0.7", "225.7.7.7")});
  TestSupport::map(*reduced, 99, "239.9.9.9", {route("10.0.0.1", "225.9.9.9")});
  auto sm = start();
  EXPECT_EQ(reduced->vlanToMulticastGroup().size(), 2u);
  EXPECT_EQ(reduced->vlanToMulticastGroup(key(10, "239.1.1.1")), m1) << "the input's object, not the old one";
  EXPECT_EQ(reduced->vlanToMulticastGroup(key(10, "")), m2);
  EXPECT_EQ(routes(key(10, "239.1.1.1")), (std::set{route("10.0.0.1", "225.1.1.1"), route("10.0.0.2", "225.1.1.2")}));
  EXPECT_FALSE(reduced->vlanToMulticastGroup(key(99, "239.9.9.9")));
  EXPECT_EQ(old->multicastGroup().size(), 1u) << "the replaced object is left as it was";
}

TEST_F(ReduceSmTest, ListChangesWhileSwitchedOffWaitForTheKeysNextChange) {
  auto kept = TestSupport::map(*in, 10, "239.1.1.1", {route("10.0.0.1", "225.1.1.1")});
  auto sm = start();
  sm->hasNotificationActiveIs(false);
  auto added = TestSupport::map(*in, 11, "239.1.1.2", {route("10.0.0.1", "225.1.1.2")});
  TestSupport::unmap(*in, 10, "239.1.1.1");
  kept->multicastGroupIs(route("10.0.0.2", "225.1.1.3"));
  EXPECT_FALSE(reduced->vlanToMulticastGroup(key(11, "239.1.1.2")));
  EXPECT_EQ(reduced->vlanToMulticastGroup(key(10, "239.1.1.1")), kept);
  EXPECT_EQ(routes(key(10, "239.1.1.1")).size(), 2u) << "route changes show: the object is shared";

  sm->hasNotificationActiveIs(true);
  EXPECT_FALSE(reduced->vlanToMulticastGroup(key(11, "239.1.1.2"))) << "switching on does not catch up";
  EXPECT_TRUE(reduced->vlanToMulticastGroup(key(10, "239.1.1.1")));
  TestSupport::unmap(*in, 11, "239.1.1.2");
  in->vlanToMulticastGroupIs(added);
  EXPECT_EQ(reduced->vlanToMulticastGroup(key(11, "239.1.1.2")), added);
  auto again = TestSupport::map(*in, 10, "239.1.1.1", {});
  EXPECT_EQ(reduced->vlanToMulticastGroup(key(10, "239.1.1.1")), again) << "the object missed while off goes";
  TestSupport::unmap(*in, 10, "239.1.1.1");
  EXPECT_FALSE(reduced->vlanToMulticastGroup(key(10, "239.1.1.1")));
}

}  // namespace
