// The VPN inject path's answers to "why is this Join here?" and its
// counters, read from the reviewer's reactors, the membership collection and
// the dedup table as they are.
#include "Pim/join/JoinKey.h"
#include "Pim/vpn/VpnInjectSm.h"

namespace Irb::Multicast::Egress {


JoinProvenance VpnInjectReviewSm::joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const {
  return joinProvenanceOf(
      key, underlayInjectDedupTable_.ptr(), vornVlanToMulticastGroup_.raw(),
      [this](VlanToMulticastGroup const& reactor, JoinReason& reason) {
        reason.wanted = reactor.overlayMembership();
        if (membershipJoinStatusColl_) {
          SbdToVlanStatus const* sbd = sbdToVlanStatus_.ptr();
          if (isVlanWide(reason.mapping.groupAddr())) {
            membershipJoinStatusColl_->vlanEvidence(reason.mapping.vlanId(), sbd, reason.evidence);
          } else {
            membershipJoinStatusColl_->groupEvidence(reason.mapping.vlanId(), reason.mapping.groupAddr(), sbd,
                                                     reason.evidence);
          }
        }
        if (reason.wanted) {
          // No evidence: the membership went and the reviewer has not seen it yet.
          if (reason.evidence.empty()) reason.missing = Missing::member;
        } else {
          reason.missing = reason.evidence.empty() ? Missing::member : Missing::review;
        }
      });
}

JoinProvenance VpnInjectSm::joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const {
  if (vpnInjectReviewSm_) return vpnInjectReviewSm_->joinProvenance(key);
  JoinProvenance out;
  out.key = key;
  return out;
}

InjectCounters VpnInjectSm::counters() const {
  InjectCounters c;
  if (auto const* writer = underlayInjectNotifiee_.ptr()) writer->joinCountsInto(c);
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
