// VpnReviewFixture — a VPN review pipeline on real parts, for tests of the
// reviewer and its per-mapping reactors: a task scheduler, a membership
// collection with one local and one peer status, a tunnel VLAN group status,
// a change set, an SBD-to-VLAN status, and a Join writer with its dedup table
// on an underlay status table.
//
//   class MyTest : public TestSupport::VpnReviewFixture {};
//   TEST_F(MyTest, X) { map(10, "239.1.1.1", {r}); join(*local_, 10, "239.1.1.1"); start(); settle();
//                       EXPECT_EQ(joins(), (Joins{join4("225.1.1.1", 10)})); }
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string_view>

#include "Brim/MembershipDedupTable.h"
#include "Brim/Status.h"
#include "Keel/TaskScheduler.h"
#include "Pim/join/MembershipDedupedLifetimeNotifiee.h"
#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Pim/vpn/VpnInjectSm.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
#include "model/MembershipJoinStatus.h"
#include "support/Inputs.h"

namespace TestSupport {

class VpnReviewFixture : public ::testing::Test {
 protected:
  using Reviewer = Irb::Multicast::Egress::VpnInjectReviewSm;
  using Reactor = Reviewer::VlanToMulticastGroup;
  using Key = Routing::Gmp::Brim::RouteIntfKey;
  using Joins = std::set<Key>;

  VpnReviewFixture() {
    coll_->localMembershipIs(local_);
    coll_->peerMembershipIs(peer_);
  }
  ~VpnReviewFixture() override {
    sm_ = nullptr;  // before the inputs, as its owner would
  }

  void start() {
    sm_ = Reviewer::VpnInjectReviewSmIs(sched_, coll_, tunnel_, changeSet_, sbd_, dedup_);
  }
  std::size_t settle() { return sched_->runUntilIdle(); }

  Vorn::Ptr<Routing::Multicast::VlanToMulticastGroup> map(
      unsigned short vlan, std::string_view group,
      std::initializer_list<Routing::Multicast::UnderlayRoute> routes = {}) {
    return TestSupport::map(*tunnel_, vlan, group, routes);
  }
  // What a producer does when membership of `vlanGroup` changed.
  void changed(Routing::Multicast::OverlayVlanGroup const& vlanGroup) {
    changeSet_->vlanGroupIs(vlanGroup);
    changeSet_->changedInc(1);
  }
  Reactor* reactor(unsigned short vlan, std::string_view group = "") const {
    return sm_->vornVlanToMulticastGroup(key(vlan, group));
  }

  Joins joins() const { return TestSupport::joins(*gmp_); }
  // The (*,G) Join of an underlay group on a VLAN (the toggle is on in tests).
  static Key join4(std::string_view group, unsigned short vlan) { return joinKey("0.0.0.0", group, vlan); }

  Vorn::Ptr<Keel::TaskScheduler> sched_ = Vorn::make<Keel::TaskScheduler>();
  Vorn::Ptr<Irb::Multicast::Egress::MembershipJoinStatusColl> coll_ =
      Irb::Multicast::Egress::membershipJoinStatusCollFactory();
  Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus> local_ =
      Irb::Multicast::Gmp::MembershipJoinStatus::membershipJoinStatusIs("local");
  Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus> peer_ =
      Irb::Multicast::Gmp::MembershipJoinStatus::membershipJoinStatusIs("peer1");
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> tunnel_ =
      Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemoteReduced");
  Vorn::Ptr<Irb::Multicast::Egress::OverlayChangeSet> changeSet_ = Irb::Multicast::Egress::overlayChangeSetFactory();
  Vorn::Ptr<Irb::Multicast::SbdToVlanStatus> sbd_ = Irb::Multicast::SbdToVlanStatus::sbdToVlanStatusIs();
  Vorn::Ptr<Routing::Gmp::Brim::Status> gmp_ = Routing::Gmp::Brim::Status::statusIs();
  Vorn::Ptr<Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee> writer_ =
      Vorn::make<Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee>(gmp_);
  Vorn::Ptr<Routing::Gmp::MembershipDedupTable> dedup_ = Vorn::make<Routing::Gmp::MembershipDedupTable>(writer_);
  Vorn::Ptr<Reviewer> sm_;
};

}  // namespace TestSupport
