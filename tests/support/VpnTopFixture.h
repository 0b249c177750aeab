// VpnTopFixture — the whole VPN inject path, built through its factory on real
// inputs: a task scheduler, a membership collection with one local ("local")
// and one peer ("peer1") status, the input tunnel VLAN group status
// ("irbRemote"), an IRB status and the underlay status table. Inputs are
// changed in place with the builders of Inputs.h; `settle()` runs the
// scheduler until idle and answers the Joins in the table.
//
//   class MyTest : public TestSupport::VpnTopFixture {};
//   TEST_F(MyTest, X) { map(*tunnel, 10, "239.1.1.1", {r}); start();
//                       join(*local, 10, "239.1.1.1"); EXPECT_EQ(settle(), model()); }
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "Brim/Status.h"
#include "Keel/TaskScheduler.h"
#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Pim/vpn/VpnInjectSm.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
#include "model/MembershipJoinStatus.h"
#include "support/Inputs.h"
#include "support/ReferenceModel.h"

namespace TestSupport {

class VpnTopFixture : public ::testing::Test {
 protected:
  using VpnInjectSm = Irb::Multicast::Egress::VpnInjectSm;
  using Joins = std::set<Routing::Gmp::Brim::RouteIntfKey>;

  VpnTopFixture() {
    coll->localMembershipIs(local);
    coll->peerMembershipIs(peer);
  }
  ~VpnTopFixture() override {
    vpn = nullptr;  // before the inputs, as the host agent would
  }

  // Builds the path through the factory; `withIrb` false hands it no IRB status.
  Vorn::Ptr<VpnInjectSm> const& start(bool withIrb = true) {
    withIrb_ = withIrb;
    vpn = Irb::Multicast::Egress::vpnInjectSmFactory(
        sched, coll, tunnel, withIrb ? Vorn::Ptr<Irb::Multicast::McastIrbStatus const>(irb) : nullptr, gmp);
    return vpn;
  }
  // Runs the scheduler until idle; the Joins in the table.
  Joins settle() {
    sched->runUntilIdle();
    return joins(*gmp);
  }
  // The Joins the inputs call for, as the path sees them (with or without the
  // IRB status it was given).
  Joins model() const {
    return vpnModelJoins(*coll, *tunnel, withIrb_ ? irb.ptr() : nullptr, modelStarG());
  }

  // VLAN `vlan` is served by SBD VLAN `sbdVlan` / by none.
  void assign(unsigned short vlan, unsigned short sbdVlan) { irb->vlanToSbdIs({vlan, sbdVlan}); }
  void unassign(unsigned short vlan) { irb->vlanToSbdDel(vlan); }

  Vorn::Ptr<Keel::TaskScheduler> sched = Vorn::make<Keel::TaskScheduler>();
  Vorn::Ptr<Irb::Multicast::Egress::MembershipJoinStatusColl> coll =
      Irb::Multicast::Egress::membershipJoinStatusCollFactory();
  Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus> local =
      Irb::Multicast::Gmp::MembershipJoinStatus::membershipJoinStatusIs("local");
  Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus> peer =
      Irb::Multicast::Gmp::MembershipJoinStatus::membershipJoinStatusIs("peer1");
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> tunnel =
      Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  Vorn::Ptr<Irb::Multicast::McastIrbStatus> irb = Irb::Multicast::McastIrbStatus::mcastIrbStatusIs();
  Vorn::Ptr<Routing::Gmp::Brim::Status> gmp = Routing::Gmp::Brim::Status::statusIs();
  Vorn::Ptr<VpnInjectSm> vpn;

 private:
  bool withIrb_ = true;
};

}  // namespace TestSupport
