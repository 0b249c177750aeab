#include "Pim/l3/L3InjectSm.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "Corvo/Exception.h"
#include "Dyad/Dyad.h"
#include "Pim/join/JoinKey.h"
#include "Pim/join/Trace.h"
#include "Vorn/Exception.h"

namespace Irb::Multicast::Egress {

namespace {

using Routing::Multicast::OverlayVlanGroup;

// Sets `smet` of `reactor`. True when that changed it: its handlers ran and
// may have changed anything. False when it held `smet` already: nothing ran,
// and no reference to it was taken.
bool changeSmet(L3InjectSm::VornVlanToMulticastGroup* reactor, bool smet) {
  if (reactor->smet() == smet) return false;
  Vorn::Ptr<L3InjectSm::VornVlanToMulticastGroup> const keep(reactor);  // its handlers may let it go
  keep->smetIs(smet);
  return true;
}

}  // namespace

// ---- VornVlanMembership ----------------------------------------------------------------------

L3InjectSm::VornVlanMembership::VornVlanMembership(Vorn::Ptr<Gmp::VlanMembershipJoin const> const& notifier,
                                                   L3InjectSm* l3InjectSm)
    : l3InjectSm_(l3InjectSm) {
  NotifieeConstOf::notifierIs(notifier);
  handleVlanMembership();
  if (notifier) handleGroup();
  isRegisteredNotifieeIs(true);
}

L3InjectSm::VornVlanMembership::~VornVlanMembership() { vornDoZombieReactors(true); }

Bridging::VlanId L3InjectSm::VornVlanMembership::vlanId() const {
  auto const* entry = notifierRaw();
  return entry ? entry->vlanId() : Bridging::VlanId();
}

void L3InjectSm::VornVlanMembership::handleVlanMembership() {
  L3_TRACE8(153, "handleVlanMembership", this << "handleVlanMembership");
  if (!l3InjectSm_) return;
  Bridging::VlanId const vlan = vlanId();
  for (OverlayVlanGroup const& key : vlanWideKeys(vlan)) {
    if (auto* reactor = l3InjectSm_->reactorAt(key)) {
      L3_TRACE8(159, "handleVlanMembership",
                this << "handleVlanMembership" << " set smet to true for tunnelVlanGroup " << vlan << ",*) ");
      changeSmet(reactor, true);
    }
  }
}

void L3InjectSm::VornVlanMembership::handleVlanDel() {
  L3_TRACE8(167, "handleVlanDel", this << "handleVlanDel");
  if (!l3InjectSm_) return;
  Bridging::VlanId const vlan = vlanId();
  for (OverlayVlanGroup const& key : vlanWideKeys(vlan)) {
    if (auto reactor = l3InjectSm_->vornVlanToMulticastGroup(key)) {
      L3_TRACE8(173, "handleVlanDel",
                this << "handleVlanDel" << " set smet to false for tunnelVlanGroup (vlan" << vlan << ",*) ");
      reactor->smetIs(false);
    }
  }
  // The entry leaves with the groups it still lists: each of them is gone as
  // if removed on its own.
  if (auto const entry = notifier()) {
    for (Wirl::IpGenAddr const& group : entry->group().keys()) {
      if (!isVlanWide(group)) groupSmetIs(group, false);
    }
  }
}

void L3InjectSm::VornVlanMembership::handleGroup() {
  L3_TRACE8(198, "handleGroup", this << "handleGroup");
  auto const entry = notifier();
  if (!entry) return;
  // Until a mapping reactor's SMET actually changes no handler runs, so the
  // entry still lists every group of the snapshot: no need to look each up.
  bool settled = true;
  for (Wirl::IpGenAddr const& group : entry->group().keys()) {
    if (settled) {
      settled = !groupSmetIs(group, true);
    } else {
      handleGroup(group);
    }
  }
}

void L3InjectSm::VornVlanMembership::handleGroup(Wirl::IpGenAddr const& groupAddr) {
  auto const* entry = notifierRaw();
  bool const exists = entry && entry->group().contains(groupAddr);
  groupSmetIs(groupAddr, exists);
}

bool L3InjectSm::VornVlanMembership::groupSmetIs(Wirl::IpGenAddr const& groupAddr, bool exists) {
  Wirl::IpGenAddr const group = groupAddr;  // the caller's may be a notification key
  L3_TRACE8(184, "handleGroup", this << "handleGroup" << " Smet group " << group << " add/del " << exists);
  if (!l3InjectSm_) return false;
  Bridging::VlanId const vlan = vlanId();
  if (!isVlanWide(group)) {
    if (auto* reactor = l3InjectSm_->reactorAt(OverlayVlanGroup(vlan, group))) {
      L3_TRACE8(191, "handleGroup",
                this << "handleGroup" << " set smet for tunnelVlanGroup to " << exists << ", vlan" << vlan << ", "
                     << group);
      return changeSmet(reactor, exists);
    }
    return false;
  }
  // A non-specific group stands for the whole VLAN: the VLAN-wide mappings
  // follow the presence of the VLAN entry, not of this group entry.
  bool const vlanPresent = notifierBase() != nullptr;
  bool changed = false;
  for (OverlayVlanGroup const& key : vlanWideKeys(vlan)) {
    if (auto* reactor = l3InjectSm_->reactorAt(key)) {
      L3_TRACE8(191, "handleGroup",
                this << "handleGroup" << " set smet for tunnelVlanGroup to " << vlanPresent << ", vlan" << vlan
                     << ", " << key.groupAddr());
      if (changeSmet(reactor, vlanPresent)) changed = true;
    }
  }
  return changed;
}

void L3InjectSm::VornVlanMembership::notifierIs(Vorn::Ptr<Gmp::VlanMembershipJoin const> const& entry) {
  auto const old = notifier();
  if (entry == old) return;
  assert((!old || !entry || old->vlanId() == entry->vlanId()) &&
         "a VLAN reactor is re-pointed only to an entry of its own VLAN");
  NotifieeConstOf::notifierIs(entry);
  if (!l3InjectSm_ || isZombie()) return;
  // Exactly the groups present in only one of the two entries.
  std::vector<Wirl::IpGenAddr> differing;
  if (old) {
    for (auto const& g : old->group())
      if (!entry || !entry->group().contains(g.first)) differing.push_back(g.first);
  }
  if (entry) {
    for (auto const& g : entry->group())
      if (!old || !old->group().contains(g.first)) differing.push_back(g.first);
  }
  for (Wirl::IpGenAddr const& group : differing) handleGroup(group);
}

void L3InjectSm::VornVlanMembership::onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) {
  if (attribute != Gmp::VlanMembershipJoin::attrGroup || !key || isZombie() || !l3InjectSm_) return;
  handleGroup(*key.get<Wirl::IpGenAddr>());
}

void L3InjectSm::VornVlanMembership::vornDoZombieReactors(bool zombie) {
  if (zombie == isZombie()) return;
  if (notifierBase()) hasNotificationActiveIs(!zombie);
  if (zombie && l3InjectSm_) l3InjectSm_->vorn_handleVlanMembership(Vorn::Ptr<VornVlanMembership>(this));
  zombieIs(zombie);
}

}  // namespace Irb::Multicast::Egress
