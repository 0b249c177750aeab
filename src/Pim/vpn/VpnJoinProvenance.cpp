// The VPN inject path's answers to "why is this Join here?" and its
// counters, read from the reviewer's reactors, the membership collection and
// the dedup table as they are.
#include "Pim/join/JoinKey.h"
#include "Pim/vpn/VpnInjectSm.h"

namespace Irb::Multicast::Egress {

using Routing::Multicast::OverlayVlanGroup;
using Routing::Multicast::UnderlayRoute;

JoinProvenance VpnInjectReviewSm::joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const {
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
      reason.wanted = it->second->overlayMembership();
      if (membershipJoinStatusColl_) {
        SbdToVlanStatus const* sbd = sbdToVlanStatus_.ptr();
        if (isVlanWide(it->first.groupAddr())) {
          membershipJoinStatusColl_->vlanEvidence(*vlan, sbd, reason.evidence);
        } else {
          membershipJoinStatusColl_->groupEvidence(*vlan, it->first.groupAddr(), sbd, reason.evidence);
        }
      }
      if (reason.wanted) {
        // No evidence: the membership went and the reviewer has not seen it yet.
        if (reason.evidence.empty()) reason.missing = Missing::member;
        out.reasons.push_back(std::move(reason));
      } else {
        reason.missing = reason.evidence.empty() ? Missing::member : Missing::review;
        out.candidates.push_back(std::move(reason));
      }
    }
  }
  return out;
}

JoinProvenance VpnInjectSm::joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const {
  if (vpnInjectReviewSm_) return vpnInjectReviewSm_->joinProvenance(key);
  JoinProvenance out;
  out.key = key;
  return out;
}

InjectCounters VpnInjectSm::counters() const {
  InjectCounters c;
  if (auto const* writer = underlayInjectNotifiee_.ptr()) {
    c.joinsWritten = writer->membershipIsCalls();
    c.joinsWithdrawn = writer->membershipDelCalls();
    c.joinsRewritten = writer->rewrites();
  }
  if (auto const* reviewer = vpnInjectReviewSm_.ptr()) {
    c.walks = reviewer->walks();
    c.slices = reviewer->slices();
    c.itemsReviewed = reviewer->itemsReviewed();
    c.staleRemoved = reviewer->staleRemoved();
  }
  if (auto const* status = underlayGmpStatus_.ptr()) c.corruptionsReported += status->corruptionsDetected();
  if (auto const irb = mcastIrbStatus()) c.corruptionsReported += irb->vlanToSbdTable().corruptionsDetected();
  return c;
}

}  // namespace Irb::Multicast::Egress
