// The reference model: a plain computation of the Joins that the inputs call
// for, written from the rules of the two paths, not from the library's code.
// The randomized tests and the benchmarks compare the library against it.
//
// L3 path, local status S, mapping (v, g):
//   smet  = S has an entry for VLAN v, and g is not specific (family none,
//           0.0.0.0, ::) or that entry lists exactly g.
// VPN path, status collection C, mapping (v, g):
//   active = for v or any VLAN that v serves as SBD VLAN (per the IRB status's
//            vlanToSbd; none without an IRB status):
//              g specific:  a local status lists g, 0.0.0.0 or :: in that VLAN,
//                           or a peer status lists g there with a source that
//                           includes a non-tunnel interface;
//              otherwise:   a local status lists any group in that VLAN, or a
//                           peer status lists a group there with a source that
//                           includes a non-tunnel interface.
// Joins: every route r of every wanted mapping (v, g) gives the key
//   (toggle on: the zero address of r's group family, else r's source;
//    r's group; the VLAN interface of v).
//
//   auto want = TestSupport::l3ModelJoins(local.ptr(), *tunnel, starG);
//   EXPECT_EQ(TestSupport::joins(*gmp), want);
#pragma once

#include <set>
#include <string>

#include "Brim/RouteIntfKey.h"
#include "Pim/join/JoinProvenance.h"
#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
#include "model/MembershipJoinStatus.h"

namespace TestSupport {

using JoinSet = std::set<Routing::Gmp::Brim::RouteIntfKey>;

// `local` may be null (no status: nothing is wanted).
JoinSet l3ModelJoins(Irb::Multicast::Gmp::MembershipJoinStatus const* local,
                     Routing::Multicast::IpTunnelVlanGroupStatus const& tunnel, bool starG);

// `irb` may be null (no VLAN has an SBD VLAN).
JoinSet vpnModelJoins(Irb::Multicast::Egress::MembershipJoinStatusColl const& coll,
                      Routing::Multicast::IpTunnelVlanGroupStatus const& tunnel,
                      Irb::Multicast::McastIrbStatus const* irb, bool starG);

// "" when `reason` for the Join `key` holds in the model: its mapping is
// there, lists the route, gives the key, is wanted, and each piece of
// evidence is in the inputs as it claims; else what is wrong.
std::string l3ReasonCheck(Irb::Multicast::Gmp::MembershipJoinStatus const* local,
                          Routing::Multicast::IpTunnelVlanGroupStatus const& tunnel,
                          Routing::Gmp::Brim::RouteIntfKey const& key,
                          Irb::Multicast::Egress::JoinReason const& reason, bool starG);
std::string vpnReasonCheck(Irb::Multicast::Egress::MembershipJoinStatusColl const& coll,
                           Routing::Multicast::IpTunnelVlanGroupStatus const& tunnel,
                           Irb::Multicast::McastIrbStatus const* irb, Routing::Gmp::Brim::RouteIntfKey const& key,
                           Irb::Multicast::Egress::JoinReason const& reason, bool starG);

// The toggle state as the process configuration gives it (read directly).
bool modelStarG();

}  // namespace TestSupport
