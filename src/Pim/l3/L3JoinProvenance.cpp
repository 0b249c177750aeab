// L3InjectSm's answers to "why is this Join here?" and its counters, read
// from the reactors, the membership status and the dedup table as they are.
#include "Pim/l3/L3InjectSm.h"

#include "Pim/join/JoinKey.h"

namespace Irb::Multicast::Egress {

using Routing::Multicast::OverlayVlanGroup;

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
  return joinProvenanceOf(key, underlayInjectDedupTable_.ptr(), vornVlanToMulticastGroup_.raw(),
                          [this](VornVlanToMulticastGroup const& reactor, JoinReason& reason) {
                            reason.wanted = reactor.smet();
                            // A path whose membership status was taken away keeps its
                            // Joins: such a reason has no evidence and says what is missing.
                            smetEvidence(reason);
                          });
}

InjectCounters L3InjectSm::counters() const {
  InjectCounters c;
  if (auto const* writer = underlayInjectNotifiee_.ptr()) writer->joinCountsInto(c);
  c.staleRemoved = staleRemoved_;
  if (auto const* status = underlayGmpStatus_.ptr()) c.corruptionsReported = status->corruptionsDetected();
  return c;
}

}  // namespace Irb::Multicast::Egress
