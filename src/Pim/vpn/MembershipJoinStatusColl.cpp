#include "Pim/vpn/MembershipJoinStatusColl.h"

#include <algorithm>
#include <cassert>
#include <iterator>
#include <vector>

#include "Corvo/Exception.h"
#include "Pim/join/Trace.h"
#include "Vorn/Exception.h"
#include "model/ModelSupport.h"

namespace Irb::Multicast::Egress {

using Bridging::VlanId;
using Gmp::GroupMembershipJoin;
using Gmp::SourceMembershipJoin;
using Wirl::AddressFamily;
using Wirl::IpGenAddr;

namespace {

IpGenAddr const kIpv4Wildcard{AddressFamily::ipv4};
IpGenAddr const kIpv6Wildcard{AddressFamily::ipv6};

}  // namespace

// ---- the membership rules ----------------------------------------------------

bool isNonTunnelIntf(Wirl::IntfId intf) noexcept {
  return !::Multicast::Tunnel::McastTunnelIntfId::isMcastTunnelIntfId(intf);
}

bool listsNonTunnelInterface(SourceMembershipJoin const* source) noexcept {
  if (!source) return false;
  for (Wirl::IntfId const intf : source->includeIntf().raw()) {
    if (isNonTunnelIntf(intf)) return true;
  }
  return false;
}

bool sameNonTunnelInterfaces(SourceMembershipJoin const* a, SourceMembershipJoin const* b) noexcept {
  static SourceMembershipJoin::IncludeIntfColl const kNone;
  auto const& as = (a ? a->includeIntf() : kNone).raw();
  auto const& bs = (b ? b->includeIntf() : kNone).raw();
  auto ai = as.begin();
  auto bi = bs.begin();
  while (true) {
    while (ai != as.end() && !isNonTunnelIntf(*ai)) ++ai;
    while (bi != bs.end() && !isNonTunnelIntf(*bi)) ++bi;
    if (ai == as.end() || bi == bs.end()) return ai == as.end() && bi == bs.end();
    if (!(*ai == *bi)) return false;
    ++ai;
    ++bi;
  }
}

bool peerGroupJoined(GroupMembershipJoin const& group) noexcept {
  for (auto const& [addr, source] : group.source().raw()) {
    if (listsNonTunnelInterface(source.ptr())) return true;
  }
  return false;
}

// ---- MembershipJoinStatusColl -------------------------------------------------

MembershipJoinStatusColl::~MembershipJoinStatusColl() {
  // Nothing observes an entity that is being destroyed (observers hold it);
  // peer statuses go first, then local ones.
  while (peer_.firstKey()) peer_.erase(*peer_.firstKey());
  while (local_.firstKey()) local_.erase(*local_.firstKey());
}

Vorn::Ptr<MembershipJoinStatusColl> membershipJoinStatusCollFactory() {
  return Model::makeActive<MembershipJoinStatusColl>();
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::localMembership(Vorn::String const& name) const {
  return Model::lookup<Gmp::MembershipJoinStatus const>(local_, name);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::peerMembership(Vorn::String const& name) const {
  return Model::lookup<Gmp::MembershipJoinStatus const>(peer_, name);
}

void MembershipJoinStatusColl::statusIs(StatusColl& coll, StatusVlanIndex& index, Attribute attribute,
                                        char const* attributeName, StatusPtr const& status) {
  if (!status) throw Vorn::MutatorNullArgumentException(fwkType(), attributeName);
  Vorn::String const& key = status->name();
  if (StatusPtr const* existing = coll.find(key)) {
    if (*existing == status) return;
    VORN_ASSERT(key == (*existing)->name(), "fwkKey() == KeyFunktor()( _value )");
    index.statusDel(existing->ptr());
  }
  // The index is current before anyone hears of the new status.
  index.statusIs(status);
  setIn(coll, attribute, key, status);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::statusDel(StatusColl& coll, StatusVlanIndex& index,
                                                                        Attribute attribute,
                                                                        Vorn::String const& name) {
  if (StatusPtr const* existing = coll.find(name)) index.statusDel(existing->ptr());
  return takeFrom(coll, attribute, name);
}

void MembershipJoinStatusColl::localMembershipIs(StatusPtr const& status) {
  statusIs(local_, localVlans_, attrLocalMembership, "localMembership", status);
}

void MembershipJoinStatusColl::peerMembershipIs(StatusPtr const& status) {
  statusIs(peer_, peerVlans_, attrPeerMembership, "peerMembership", status);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::localMembershipDel(Vorn::String const& name) {
  return statusDel(local_, localVlans_, attrLocalMembership, name);
}

MembershipJoinStatusColl::StatusPtr MembershipJoinStatusColl::peerMembershipDel(Vorn::String const& name) {
  return statusDel(peer_, peerVlans_, attrPeerMembership, name);
}

void MembershipJoinStatusColl::localMembershipDelAll() {
  while (Vorn::String const* first = local_.firstKey()) localMembershipDel(Vorn::String(*first));
}

void MembershipJoinStatusColl::peerMembershipDelAll() {
  while (Vorn::String const* first = peer_.firstKey()) peerMembershipDel(Vorn::String(*first));
}

namespace {

// Whether a VLAN entry lists 0.0.0.0 or ::. Each is the smallest address of its
// family, and families sort none < IPv4 < IPv6: the ends of the sorted groups
// answer without a search unless a family-less group or both families are there.
bool listsWildcard(Gmp::VlanMembershipJoin::GroupColl const& groups) {
  auto const& sorted = groups.raw();
  if (sorted.empty()) return false;
  IpGenAddr const& first = sorted.begin()->first;
  switch (first.af()) {
    case AddressFamily::none:
      return groups.contains(kIpv4Wildcard) || groups.contains(kIpv6Wildcard);
    case AddressFamily::ipv6:
      return first == kIpv6Wildcard;  // no IPv4 group: the first is the smallest IPv6 one
    case AddressFamily::ipv4:
      break;
  }
  if (first == kIpv4Wildcard) return true;
  // No IPv4 wildcard; :: only if some IPv6 group sorts last.
  return std::prev(sorted.end())->first.af() == AddressFamily::ipv6 && groups.contains(kIpv6Wildcard);
}

}  // namespace

bool MembershipJoinStatusColl::groupActive(VlanId vlanId, IpGenAddr const& group) const {
  for (StatusVlanIndex::Entry const& e : localVlans_.vlan(vlanId)) {
    auto const& groups = e.vlan->group();
    if (groups.contains(group) || listsWildcard(groups)) return true;
  }
  for (StatusVlanIndex::Entry const& e : peerVlans_.vlan(vlanId)) {
    Vorn::Ptr<GroupMembershipJoin> const* g = e.vlan->group().find(group);
    if (g && peerGroupJoined(**g)) return true;
  }
  return false;
}

bool MembershipJoinStatusColl::vlanActive(VlanId vlanId) const {
  auto found = [](Vorn::String const& name) {
    VORN_TRACE(overlayMembershipTrace(), 9, kOverlayMembershipSmFile, 120, "vlanActive",
               "vlanActive" << "  found entry in " << name);
    return true;
  };
  for (StatusVlanIndex::Entry const& e : localVlans_.vlan(vlanId)) {
    if (!e.vlan->group().empty()) return found(e.status->name());
  }
  for (StatusVlanIndex::Entry const& e : peerVlans_.vlan(vlanId)) {
    for (auto const& [addr, group] : e.vlan->group().raw()) {
      if (peerGroupJoined(*group)) return found(e.status->name());
    }
  }
  VORN_TRACE(overlayMembershipTrace(), 9, kOverlayMembershipSmFile, 132, "vlanActive",
             "vlanActive" << "  No entry found ");
  return false;
}

bool MembershipJoinStatusColl::groupWanted(VlanId vlanId, IpGenAddr const& group,
                                           SbdToVlanStatus const* sbdToVlanStatus) const {
  if (groupActive(vlanId, group)) return true;
  Vorn::Ptr<SbdVlanState const> const sbd = sbdToVlanStatus ? sbdToVlanStatus->sbdVlanState(vlanId) : nullptr;
  if (!sbd) return false;
  for (VlanId const member : sbd->vlanId()) {
    if (groupActive(member, group)) return true;
  }
  return false;
}

bool MembershipJoinStatusColl::vlanWanted(VlanId vlanId, SbdToVlanStatus const* sbdToVlanStatus) const {
  if (vlanActive(vlanId)) return true;
  Vorn::Ptr<SbdVlanState const> const sbd = sbdToVlanStatus ? sbdToVlanStatus->sbdVlanState(vlanId) : nullptr;
  if (!sbd) return false;
  for (VlanId const member : sbd->vlanId()) {
    if (vlanActive(member)) return true;
  }
  return false;
}

// ---- evidence ------------------------------------------------------------------------

namespace {

// The first source of a peer's group entry with an interface that counts.
bool peerWitness(GroupMembershipJoin const& group, MembershipEvidence& e) {
  for (auto const& [addr, source] : group.source().raw()) {
    for (Wirl::IntfId const intf : source->includeIntf().raw()) {
      if (isNonTunnelIntf(intf)) {
        e.source = addr;
        e.intf = intf;
        return true;
      }
    }
  }
  return false;
}

template <class ServedFn>
void forServedVlans(SbdToVlanStatus const* sbdToVlanStatus, VlanId sbdVlan, ServedFn fn) {
  Vorn::Ptr<SbdVlanState const> const sbd = sbdToVlanStatus ? sbdToVlanStatus->sbdVlanState(sbdVlan) : nullptr;
  if (!sbd) return;
  for (VlanId const member : sbd->vlanId()) fn(member);
}

}  // namespace

void MembershipJoinStatusColl::groupEvidenceIn(VlanId vlanId, IpGenAddr const& group, bool viaSbd,
                                               std::vector<MembershipEvidence>& out) const {
  for (StatusVlanIndex::Entry const& e : localVlans_.vlan(vlanId)) {
    auto const& groups = e.vlan->group();
    for (IpGenAddr const& g : {group, kIpv4Wildcard, kIpv6Wildcard}) {
      if (!groups.contains(g)) continue;
      out.push_back(MembershipEvidence{e.status->name(), false, vlanId, viaSbd, g, IpGenAddr(), Wirl::IntfId()});
      break;
    }
  }
  for (StatusVlanIndex::Entry const& e : peerVlans_.vlan(vlanId)) {
    Vorn::Ptr<GroupMembershipJoin> const* g = e.vlan->group().find(group);
    MembershipEvidence ev{e.status->name(), true, vlanId, viaSbd, group, IpGenAddr(), Wirl::IntfId()};
    if (g && peerWitness(**g, ev)) out.push_back(ev);
  }
}

void MembershipJoinStatusColl::vlanEvidenceIn(VlanId vlanId, bool viaSbd, std::vector<MembershipEvidence>& out) const {
  for (StatusVlanIndex::Entry const& e : localVlans_.vlan(vlanId)) {
    IpGenAddr const* first = e.vlan->group().firstKey();
    if (first) out.push_back(MembershipEvidence{e.status->name(), false, vlanId, viaSbd, *first, IpGenAddr(), Wirl::IntfId()});
  }
  for (StatusVlanIndex::Entry const& e : peerVlans_.vlan(vlanId)) {
    for (auto const& [addr, group] : e.vlan->group().raw()) {
      MembershipEvidence ev{e.status->name(), true, vlanId, viaSbd, addr, IpGenAddr(), Wirl::IntfId()};
      if (peerWitness(*group, ev)) {
        out.push_back(ev);
        break;
      }
    }
  }
}

void MembershipJoinStatusColl::groupEvidence(VlanId vlanId, IpGenAddr const& group,
                                             SbdToVlanStatus const* sbdToVlanStatus,
                                             std::vector<MembershipEvidence>& out) const {
  groupEvidenceIn(vlanId, group, false, out);
  forServedVlans(sbdToVlanStatus, vlanId, [&](VlanId member) { groupEvidenceIn(member, group, true, out); });
}

void MembershipJoinStatusColl::vlanEvidence(VlanId vlanId, SbdToVlanStatus const* sbdToVlanStatus,
                                            std::vector<MembershipEvidence>& out) const {
  vlanEvidenceIn(vlanId, false, out);
  forServedVlans(sbdToVlanStatus, vlanId, [&](VlanId member) { vlanEvidenceIn(member, true, out); });
}

}  // namespace Irb::Multicast::Egress
