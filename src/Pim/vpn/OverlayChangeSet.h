// OverlayChangeSet — the hand-off point of the VPN inject path: the change
// trackers add the overlay VLAN groups whose Join decision may have changed,
// then bump `changed` once per event; the reviewer reacts to `changed` only
// and drains the set. Mode — the level at which a tracker watches a status.
//
// GUARANTEES
//   - Keys are unique; mutators notify only on an effective change.
//   - `changedInc` wraps modulo 2^32.
//   - `vlanMappingsIs` records every mapping of one VLAN, in key order.
//   - `discarded` is only a mark for producers; it changes no behaviour of
//     the set.
//
// WARNING
//   Single event thread. Recording runs the set's observers synchronously.
//
// TYPICAL USAGE
//   auto cs = overlayChangeSetFactory();
//   cs->vlanGroupIs(OverlayVlanGroup(10, group));  cs->changedInc(1);
#pragma once

#include <cstdint>

#include "Vorn/Collection.h"
#include "Vorn/Entity.h"
#include "model/Bridging.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/RoutingTypes.h"

namespace Irb::Multicast::Egress {

// ---- OverlayChangeSet ------------------------------------------------------------

class OverlayChangeSet : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrVlanGroup = 1, attrChanged = 2 };
  using VlanGroupColl = Vorn::KeyedSet<Routing::Multicast::OverlayVlanGroup>;

  VlanGroupColl const& vlanGroup() const noexcept { return vlanGroup_; }
  bool vlanGroup(Routing::Multicast::OverlayVlanGroup const& key) const { return vlanGroup_.contains(key); }
  // Adds the key; a key already present changes and notifies nothing.
  void vlanGroupIs(Routing::Multicast::OverlayVlanGroup const& key) { insertIn(vlanGroup_, attrVlanGroup, key); }
  // Removes the key; true when it was present.
  bool vlanGroupDel(Routing::Multicast::OverlayVlanGroup const& key) {
    return eraseFrom(vlanGroup_, attrVlanGroup, key);
  }
  void vlanGroupDelAll() { eraseAllFrom(vlanGroup_, attrVlanGroup); }

  std::uint32_t changed() const noexcept { return changed_; }
  // Sets the counter; notifies `changed` (no key) only when the value differs.
  void changedIs(std::uint32_t value);
  // Adds `delta` with unsigned 32-bit wrap-around; returns the new value.
  std::uint32_t changedInc(std::uint32_t delta);

  // Set by the path that reviews the set when it is torn down: nobody will
  // read what is recorded from then on, so producers may skip the final
  // passes they would make into it (the set itself behaves as before).
  bool discarded() const noexcept { return discarded_; }
  void discardedIs(bool discarded) noexcept { discarded_ = discarded; }

  char const* fwkType() const override { return "Irb::Multicast::Egress::OverlayChangeSet"; }

 private:
  VlanGroupColl vlanGroup_;
  std::uint32_t changed_ = 0;
  bool discarded_ = false;
};

Vorn::Ptr<OverlayChangeSet> overlayChangeSetFactory();

// Adds every mapping keyed by `vlan` in `tunnel` to `changeSet`; returns how
// many. `traced`: each key also goes to the level-9 "Changed  " statement.
unsigned vlanMappingsIs(OverlayChangeSet& changeSet, Routing::Multicast::IpTunnelVlanGroupStatus const& tunnel,
                        Bridging::VlanId vlan, bool traced);

// ---- Mode --------------------------------------------------------------------------

// The level at which a change tracker watches a status: group level (local
// statuses), interface level (peer statuses: only non-tunnel interfaces count).
enum class Mode : std::uint32_t { groupLevel = 0, interfaceLevel = 1 };

}  // namespace Irb::Multicast::Egress
