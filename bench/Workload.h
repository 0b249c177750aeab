// Inputs of a data-center leaf at a given scale, built for the benchmarks.
//
// A Leaf of N overlay mappings spreads them over V = min(4094, max(1, N/16))
// VLANs (1..V), about 16 groups a VLAN (past 64K mappings the VLANs are used
// up and each VLAN takes more groups): mapping i is VLAN 1 + i % V with group
// 239.1.x.y numbered i / V inside its VLAN, and carries one underlay route
// (10.0.0.1, 225.0.0.0 + i). Every VLAN used also gets a whole-VLAN mapping
// (group of no family) with the route (10.0.0.1, 226.0.0.0 + VLAN). So the
// tunnel status holds N + V mappings, each with one route.
//
// Membership, by the class c = (group index + VLAN) % 4 of a mapping:
//   allLocal():  a local status listing every group (the L3 path's input).
//   shared():    a local status listing the groups of class 0 and 2, and P
//                peer statuses: class 1 groups joined through an Ethernet
//                interface (wanted), class 3 groups through "Vxlan1" only
//                (a tunnel interface: not wanted), each group in one peer.
//
// GUARANTEES
//   Deterministic: the same shape builds the same inputs. Builders touch only
//   the objects they create.
// WARNING
//   Single event thread (interface names are interned).
//
//   Bench::Leaf leaf(65536, 64);
//   auto tunnel = leaf.tunnelStatus();
//   auto local = leaf.allLocal();
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "Brim/RouteIntfKey.h"
#include "Brim/Status.h"
#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "Vorn/Ptr.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/MembershipJoinStatus.h"
#include "model/RoutingTypes.h"

namespace Bench {

class Leaf {
 public:
  Leaf(std::size_t mappings, std::size_t peers);

  std::size_t mappings() const noexcept { return mappings_; }  // N, without the whole-VLAN ones
  std::size_t peers() const noexcept { return peers_; }
  unsigned vlans() const noexcept { return vlans_; }
  std::size_t allMappings() const noexcept { return mappings_ + vlans_; }

  Bridging::VlanId vlanOf(std::size_t i) const noexcept;
  Wirl::IpGenAddr groupOf(std::size_t i) const noexcept;
  Routing::Multicast::OverlayVlanGroup keyOf(std::size_t i) const noexcept;
  unsigned classOf(std::size_t i) const noexcept;

  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> tunnelStatus() const;
  Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus> allLocal() const;

  struct Membership {
    Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus> local;
    std::vector<Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus>> peers;
    std::size_t groupEntries = 0;  // group entries over all statuses
  };
  Membership shared() const;

  // N entries no instance on these inputs wants: (0.0.0.0, 227.0.0.0 + i, VLAN of i).
  void staleEntriesIs(Routing::Gmp::Brim::Status& gmp) const;

 private:
  std::size_t mappings_;
  std::size_t peers_;
  unsigned vlans_;
};

// A collection holding the statuses of `m` (local under its name, peers under theirs).
Vorn::Ptr<Irb::Multicast::Egress::MembershipJoinStatusColl> collectionOf(Leaf::Membership const& m);

// In place on `status`: adds the group entry (VLAN entry created when missing)
// when absent, else removes it. Returns true when it added.
bool toggleGroup(Irb::Multicast::Gmp::MembershipJoinStatus& status, Bridging::VlanId vlan,
                 Wirl::IpGenAddr const& group);

// Keys of the entries with value 1.
std::set<Routing::Gmp::Brim::RouteIntfKey> joins(Routing::Gmp::Brim::Status const& status);

}  // namespace Bench
