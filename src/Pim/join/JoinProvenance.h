// Why a Join is in the underlay GMP status table — or why it is not — as
// data a host agent's own show command can print, and the counters of an
// inject path.
//
// OVERVIEW
//   `L3InjectSm::joinProvenance(key)` and `VpnInjectSm::joinProvenance(key)`
//   answer for one Join key (source, group, interface) from the state the
//   path already holds, on demand (nothing is kept for it on the change
//   path):
//   - `reasons`: every mapping that produces the key through one of its
//     underlay routes and wants it now (L3: its `smet`; VPN: the reviewer's
//     verdict), with the membership that makes it so (`evidence`);
//   - `candidates`: the mappings that produce the key but do not want it,
//     each with what it lacks;
//   - `held`: the path holds a Join handle for the key; `adopted`: the
//     entry was already in the table when this path's Join came (left by an
//     earlier run and kept at start-up), so the path never wrote it.
//
// GUARANTEES
//   - Once the path is idle, a key is held exactly when `reasons` is not
//     empty, and every reason has evidence.
//   - Between a change and its review (VPN) a verdict may not match the
//     evidence yet: a reason then has no evidence, a candidate lacks
//     `Missing::review`.
//
// TYPICAL USAGE
//   auto why = l3->joinProvenance(RouteIntfKey(src, grp, Wirl::VlanIntfId::vlanIdToIntfId(10)));
//   for (auto const& r : why.reasons) print(r.mapping, r.route, r.evidence);
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Brim/RouteIntfKey.h"
#include "Pim/join/JoinKey.h"
#include "Vorn/String.h"
#include "model/Bridging.h"
#include "model/RoutingTypes.h"
#include "model/Wirl.h"

namespace Irb::Multicast::Egress {

// How a mapping's group key reads: one group, the whole VLAN (a group of no
// address family), or a wildcard (0.0.0.0, ::) that also stands for the VLAN.
enum class GroupKeyKind : std::uint8_t { specific, wholeVlan, wildcard };
GroupKeyKind groupKeyKind(Wirl::IpGenAddr const& group) noexcept;

// One membership entry that makes a mapping wanted.
struct MembershipEvidence {
  Vorn::String status;   // the membership join status's name
  bool peer = false;     // a peer's status (else this switch's own)
  Bridging::VlanId vlan; // the VLAN entry holding it
  bool viaSbd = false;   // `vlan` is served by the mapping's VLAN as its SBD VLAN
  Wirl::IpGenAddr group; // the group entry that counts; no family: the VLAN entry as such
  Wirl::IpGenAddr source;  // peer: the source whose interface counts; else no family
  Wirl::IntfId intf;       // peer: that non-tunnel interface; else empty

  bool operator==(MembershipEvidence const&) const = default;
};

// What a mapping that could produce the key lacks.
enum class Missing : std::uint8_t {
  none,
  membershipStatus,  // L3: the path has no membership status
  vlanEntry,         // L3: the local status has no entry for the VLAN
  groupEntry,        // L3: the VLAN entry does not list the group
  member,            // VPN: no local or peer status wants the group (or VLAN)
  review,            // VPN: membership is there, the reviewer has not seen it yet
};

struct JoinReason {
  Routing::Multicast::OverlayVlanGroup mapping;  // the mapping's key
  GroupKeyKind keyKind = GroupKeyKind::specific;
  Routing::Multicast::UnderlayRoute route;       // the route that gives the key
  bool wanted = false;                           // L3 `smet` / VPN verdict
  std::vector<MembershipEvidence> evidence;      // what makes it wanted
  Missing missing = Missing::none;               // for a candidate: what it lacks
};

struct JoinProvenance {
  Routing::Gmp::Brim::RouteIntfKey key;
  bool held = false;
  bool adopted = false;
  std::vector<JoinReason> reasons;
  std::vector<JoinReason> candidates;
};

// Plain counters of an inject path, readable by the host at any time.
struct InjectCounters {
  std::uint64_t joinsWritten = 0;     // Joins written into the table
  std::uint64_t joinsWithdrawn = 0;   // Joins deleted from it
  std::uint64_t joinsRewritten = 0;   // written over an entry already there
  std::uint64_t staleRemoved = 0;     // stale entries removed at start-up
  std::uint64_t walks = 0;            // reviewer walks finished (VPN)
  std::uint64_t slices = 0;           // reviewer walk slices run (VPN)
  std::uint64_t itemsReviewed = 0;    // change-set keys reviewed (VPN)
  std::uint64_t corruptionsReported = 0;  // corruptions the path's tables reported
};

// The VLAN of a Join key's interface ("Vlan10" -> 10), if it is a VLAN
// interface.
std::optional<Bridging::VlanId> joinKeyVlan(Routing::Gmp::Brim::RouteIntfKey const& key);

// The provenance of `key` as both paths build it: `held` and `adopted` from
// the dedup table, then one JoinReason per (mapping reactor, route) of the
// key's VLAN whose route gives the key. `reactors` is a map ordered by
// OverlayVlanGroup (VLAN first) of reactor pointers with
// `vlanToMulticastGroup()`; `judge(reactor, reason)` fills in `wanted`,
// `evidence` and `missing`. Wanted reasons go to `reasons`, others to
// `candidates`.
template <class Dedup, class ReactorMap, class Judge>
JoinProvenance joinProvenanceOf(Routing::Gmp::Brim::RouteIntfKey const& key, Dedup const* dedup,
                                ReactorMap const& reactors, Judge judge) {
  JoinProvenance out;
  out.key = key;
  if (dedup) {
    if (auto const handle = dedup->lookup(key)) {
      out.held = true;
      out.adopted = handle->adopted();
    }
  }
  std::optional<Bridging::VlanId> const vlan = joinKeyVlan(key);
  if (!vlan) return out;
  for (auto it = reactors.lower_bound(Routing::Multicast::OverlayVlanGroup(*vlan, Wirl::IpGenAddr()));
       it != reactors.end() && it->first.vlanId() == *vlan; ++it) {
    auto const mapping = it->second ? it->second->vlanToMulticastGroup() : nullptr;
    if (!mapping) continue;
    for (Routing::Multicast::UnderlayRoute const& route : mapping->multicastGroup()) {
      if (!(joinKey(route, *vlan) == key)) continue;
      JoinReason reason;
      reason.mapping = it->first;
      reason.keyKind = groupKeyKind(it->first.groupAddr());
      reason.route = route;
      judge(*it->second, reason);
      (reason.wanted ? out.reasons : out.candidates).push_back(std::move(reason));
    }
  }
  return out;
}

}  // namespace Irb::Multicast::Egress
