// L3InjectSm's answers to "why is this Join here?" and its counters, read
// from the reactors, the membership status and the dedup table as they are.
#include "Pim/l3/L3InjectSm.h"

#include "Pim/join/JoinKey.h"

namespace Irb::Multicast::Egress {

using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::UnderlayRoute;

void L3InjectSm::smetEvidence(JoinReason& reason) const {
  OverlayVlanGroup const& key = reason.mapping;
  MembershipJoinStatusPtr const status = membershipJoinStatus();
  if (!status) {
    reason.missing = Missing::membershipStatus;
    return;
  }
  auto const entry = status->vlan(key.vlanId());
  if (!entry) {
    reason.missing = Missing::vlanEntry;
    return;
  }
  // A VLAN-wide mapping is wanted by the VLAN entry itself, a specific one by
  // the group entry.
  bool const wide = isVlanWide(key.groupAddr());
  if (!wide && !entry->group().contains(key.groupAddr())) {
    reason.missing = Missing::groupEntry;
    return;
  }
  reason.evidence.push_back(MembershipEvidence{status->name(), false, key.vlanId(), false,
                                               wide ? Wirl::IpGenAddr() : key.groupAddr(), Wirl::IpGenAddr(),
                                               Wirl::IntfId()});
}

JoinProvenance L3InjectSm::joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const {
  JoinProvenance out;
  out.key = key;
  if (auto const* dedup = underlayInjectDedupTable_.ptr()) {
    if (auto const handle = dedup->lookup(key)) {
      out.held = true;
      out.adopted = handle->adopted();
    }
  }
  std::optional<Bridging::VlanId> const vlan = joinKeyVlan(key);
  if (!vlan) return out;
  // The mappings of the VLAN: keys are ordered VLAN first.
  auto const& reactors = vornVlanToMulticastGroup_.raw();
  for (auto it = reactors.lower_bound(OverlayVlanGroup(*vlan, Wirl::IpGenAddr()));
       it != reactors.end() && it->first.vlanId() == *vlan; ++it) {
    auto const mapping = it->second ? it->second->vlanToMulticastGroup() : nullptr;
    if (!mapping) continue;
    for (UnderlayRoute const& route : mapping->multicastGroup()) {
      if (!(joinKey(route, *vlan) == key)) continue;
      JoinReason reason;
      reason.mapping = it->first;
      reason.keyKind = groupKeyKind(it->first.groupAddr());
      reason.route = route;
      reason.wanted = it->second->smet();
      smetEvidence(reason);
      if (reason.wanted) {
        // A path whose membership status was taken away keeps its Joins:
        // such a reason has no evidence, and says what is missing.
        out.reasons.push_back(std::move(reason));
      } else {
        out.candidates.push_back(std::move(reason));
      }
    }
  }
  return out;
}

InjectCounters L3InjectSm::counters() const {
  InjectCounters c;
  if (auto const* writer = underlayInjectNotifiee_.ptr()) {
    c.joinsWritten = writer->membershipIsCalls();
    c.joinsWithdrawn = writer->membershipDelCalls();
    c.joinsRewritten = writer->rewrites();
  }
  c.staleRemoved = staleRemoved_;
  if (auto const* status = underlayGmpStatus_.ptr()) c.corruptionsReported = status->corruptionsDetected();
  return c;
}

}  // namespace Irb::Multicast::Egress
