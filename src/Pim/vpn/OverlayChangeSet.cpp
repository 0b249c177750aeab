#include "Pim/vpn/OverlayChangeSet.h"

#include "Pim/join/Trace.h"
#include "model/ModelSupport.h"

namespace Irb::Multicast::Egress {

// ---- OverlayChangeSet ------------------------------------------------------------

Vorn::Ptr<OverlayChangeSet> overlayChangeSetFactory() { return Model::makeActive<OverlayChangeSet>(); }

void OverlayChangeSet::changedIs(std::uint32_t value) {
  if (value == changed_) return;
  changed_ = value;
  notify(attrChanged, Vorn::Key());
}

std::uint32_t OverlayChangeSet::changedInc(std::uint32_t delta) {
  changedIs(changed_ + delta);  // unsigned: wraps modulo 2^32
  return changed_;
}

unsigned vlanMappingsIs(OverlayChangeSet& changeSet, Routing::Multicast::IpTunnelVlanGroupStatus const& tunnel,
                        Bridging::VlanId vlan, bool traced) {
  using Routing::Multicast::OverlayVlanGroup;
  // The tunnel status is ordered VLAN first: start at the VLAN's smallest key
  // (a group of no family) and stop at the next VLAN.
  unsigned recorded = 0;
  auto const& mappings = tunnel.vlanToMulticastGroup();
  for (auto it = mappings.lowerBound(OverlayVlanGroup(vlan, Wirl::IpGenAddr())); it != mappings.end(); ++it) {
    OverlayVlanGroup const key = it->first;
    if (key.vlanId() != vlan) break;
    if (traced) {
      VORN_TRACE(overlayMembershipTrace(), 9, kOverlayMembershipSmFile, 285, "groupChanged", "Changed  " << key);
    }
    changeSet.vlanGroupIs(key);
    ++recorded;
  }
  return recorded;
}

}  // namespace Irb::Multicast::Egress
