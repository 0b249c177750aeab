// L3Fixture — the three inputs of an L3 inject path, and the yardstick to
// judge it by: a fresh instance built on the same inputs (restart
// equivalence).
//
//   TEST_F(L3Fixture, Something) {
//     TestSupport::join(*local, 10, "239.1.1.1");
//     TestSupport::map(*tunnel, 10, "239.1.1.1", {TestSupport::route("10.0.0.1", "225.1.1.1")});
//     auto sm = start();
//     EXPECT_EQ(TestSupport::joins(*gmp), freshJoins());
//   }
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>

#include "Pim/l3/L3InjectSm.h"
#include "support/Inputs.h"

namespace TestSupport {

// The (*,G) Join of an IPv4 underlay group on the interface of `vlan`.
inline Routing::Gmp::Brim::RouteIntfKey starG(char const* underlayGroup, unsigned short vlan) {
  return joinKey("0.0.0.0", underlayGroup, vlan);
}

class L3Fixture : public ::testing::Test {
 protected:
  using Sm = Irb::Multicast::Egress::L3InjectSm;
  using JoinKeys = std::set<Routing::Gmp::Brim::RouteIntfKey>;

  Vorn::Ptr<Sm> start() { return Irb::Multicast::Egress::l3InjectSmFactory(local, tunnel, gmp); }

  // The Joins a fresh instance on the present inputs writes into an empty table.
  JoinKeys freshJoins() const {
    auto table = Routing::Gmp::Brim::Status::statusIs();
    auto fresh = Irb::Multicast::Egress::l3InjectSmFactory(local, tunnel, table);
    return joins(*table);
  }

  JoinKeys current() const { return joins(*gmp); }

  Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus> local =
      Irb::Multicast::Gmp::MembershipJoinStatus::membershipJoinStatusIs("local");
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> tunnel =
      Routing::Multicast::IpTunnelVlanGroupStatus::ipTunnelVlanGroupStatusIs("irbRemote");
  Vorn::Ptr<Routing::Gmp::Brim::Status> gmp = Routing::Gmp::Brim::Status::statusIs();
};

}  // namespace TestSupport
