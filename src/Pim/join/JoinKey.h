// The Join key of an underlay route, shared by the L3 and the VPN inject paths.
//
// For a route r carrying an overlay VLAN group of VLAN v:
//   source     the all-zero address of r's group family when the toggle
//              "PimL3TunnelInject" (file "Pim.json", default on) is on — a
//              (*,G) Join — else the route's underlaySource() — an (S,G) Join;
//   group      r's group address;
//   interface  the VLAN interface of v.
//
// The toggle is read once per process, on first use, under a one-time guard,
// and never again: later changes of the toggle file are not seen.
//
// A mapping whose key's group is not specific — a group of no address family
// (the whole-VLAN mapping), or the wildcard of either family (0.0.0.0, ::) —
// stands for its whole VLAN, on both paths.
//
//   auto key = joinKey(route, vlan);   handle = dedupTable->dedup(key);
//   for (auto const& k : vlanWideKeys(vlan)) ...;   if (isVlanWide(group)) ...
#pragma once

#include <array>

#include "Brim/RouteIntfKey.h"
#include "model/Bridging.h"
#include "model/RoutingTypes.h"

namespace Irb::Multicast::Egress {

bool togglePimL3TunnelInjectEnabled();

Routing::Gmp::Brim::RouteIntfKey joinKey(Routing::Multicast::UnderlayRoute const& route, Bridging::VlanId vlan);

// Whether a mapping keyed by `group` stands for its whole VLAN.
inline bool isVlanWide(Wirl::IpGenAddr const& group) noexcept { return !group.isSpecific(); }

// The VLAN-wide keys of `vlan`, in key order: no family, 0.0.0.0, ::.
std::array<Routing::Multicast::OverlayVlanGroup, 3> vlanWideKeys(Bridging::VlanId vlan);

}  // namespace Irb::Multicast::Egress
