// MembershipJoinStatusColl — the local (this switch's) and peer membership
// join statuses of the VPN inject path, by name, and the one place that
// answers "does anyone want this overlay VLAN group?".
//
// OVERVIEW
//   The rules of who wants what live here, once, for every part of the path:
//   - a local status wants a group of a VLAN through that group's entry or a
//     wildcard group entry (IPv4 or IPv6) of the VLAN;
//   - a peer status wants it only through a source that includes an
//     interface other than a multicast tunnel interface (`isNonTunnelIntf`);
//   - the reviewer's verdict (`groupWanted`, `vlanWanted`) also asks the VLANs
//     an SBD VLAN serves, when the VLAN itself is one;
//
// GUARANTEES
//   - Mutators notify only on an effective change.
//   - The queries visit only the statuses holding an entry for the VLAN (an
//     index kept by observing each status: statuses must keep their
//     notification on).
//
// WARNING
//   Single event thread; the queries take no lock.
//
// TYPICAL USAGE
//   auto coll = membershipJoinStatusCollFactory();
//   coll->localMembershipIs(status);
//   bool wanted = coll->groupWanted(10, group, sbdToVlanStatus.ptr());
#pragma once

#include <optional>
#include <vector>

#include "Pim/join/JoinProvenance.h"
#include "Pim/vpn/StatusVlanIndex.h"
#include "Vorn/Collection.h"
#include "Vorn/Entity.h"
#include "Vorn/String.h"
#include "model/Bridging.h"
#include "model/McastIrbStatus.h"
#include "model/MembershipJoinStatus.h"
#include "model/Wirl.h"

namespace Irb::Multicast::Egress {

// ---- MembershipJoinStatusColl -------------------------------------------------

class MembershipJoinStatusColl : public Vorn::Entity {
 public:
  enum Attribute : Vorn::AttributeId { attrLocalMembership = 1, attrPeerMembership = 2 };
  using StatusPtr = Vorn::Ptr<Gmp::MembershipJoinStatus const>;
  // Keyed by the status's own name.
  using StatusColl = Vorn::KeyedMap<Vorn::String, StatusPtr>;

  MembershipJoinStatusColl() = default;
  ~MembershipJoinStatusColl() override;

  StatusColl const& localMembership() const noexcept { return local_; }
  StatusPtr localMembership(Vorn::String const& name) const;
  // Inserts, or replaces the status of the same name. Null raises
  // MutatorNullArgumentException. The same object again notifies nothing.
  void localMembershipIs(StatusPtr const& status);
  StatusPtr localMembershipDel(Vorn::String const& name);
  void localMembershipDelAll();

  StatusColl const& peerMembership() const noexcept { return peer_; }
  StatusPtr peerMembership(Vorn::String const& name) const;
  void peerMembershipIs(StatusPtr const& status);
  StatusPtr peerMembershipDel(Vorn::String const& name);
  void peerMembershipDelAll();

  // Whether any status wants traffic of `group` on `vlanId`: a local status
  // with that exact group entry or a wildcard group entry (IPv4 or IPv6) in
  // the VLAN; or a peer status with that exact group entry having a source
  // that includes an interface other than a multicast tunnel interface.
  bool groupActive(Bridging::VlanId vlanId, Wirl::IpGenAddr const& group) const;
  // Whether any status wants any traffic on `vlanId`: a local status whose
  // VLAN entry holds a group; or a peer status with a group of the VLAN having
  // a source that includes a non-tunnel interface. Traces its outcome at 9.
  // Both visit only the statuses holding an entry for the VLAN (an index kept
  // by observing each status: statuses must keep their notification on).
  bool vlanActive(Bridging::VlanId vlanId) const;

  // The reviewer's verdicts: groupActive / vlanActive of the VLAN itself or,
  // when `vlanId` is an SBD VLAN (per `sbdToVlanStatus`, which may be null),
  // of any VLAN it serves.
  bool groupWanted(Bridging::VlanId vlanId, Wirl::IpGenAddr const& group,
                   SbdToVlanStatus const* sbdToVlanStatus) const;
  bool vlanWanted(Bridging::VlanId vlanId, SbdToVlanStatus const* sbdToVlanStatus) const;

  // What makes groupWanted / vlanWanted true: one entry per status and VLAN
  // that counts (its first witness), appended to `out`. Empty exactly when
  // the verdict is false.
  void groupEvidence(Bridging::VlanId vlanId, Wirl::IpGenAddr const& group, SbdToVlanStatus const* sbdToVlanStatus,
                     std::vector<MembershipEvidence>& out) const;
  void vlanEvidence(Bridging::VlanId vlanId, SbdToVlanStatus const* sbdToVlanStatus,
                    std::vector<MembershipEvidence>& out) const;

  char const* fwkType() const override { return "Irb::Multicast::Egress::MembershipJoinStatusColl"; }

 private:
  // The evidence of one VLAN (the mapping's own, or one its SBD VLAN serves).
  void groupEvidenceIn(Bridging::VlanId vlanId, Wirl::IpGenAddr const& group, bool viaSbd,
                       std::vector<MembershipEvidence>& out) const;
  void vlanEvidenceIn(Bridging::VlanId vlanId, bool viaSbd, std::vector<MembershipEvidence>& out) const;

  void statusIs(StatusColl& coll, StatusVlanIndex& index, Attribute attribute, char const* attributeName,
                StatusPtr const& status);
  StatusPtr statusDel(StatusColl& coll, StatusVlanIndex& index, Attribute attribute, Vorn::String const& name);

  StatusColl local_;
  StatusColl peer_;
  StatusVlanIndex localVlans_;
  StatusVlanIndex peerVlans_;
};

Vorn::Ptr<MembershipJoinStatusColl> membershipJoinStatusCollFactory();

// ---- the membership rules the trackers share -------------------------------------

// Whether `intf` counts for a peer: it is not a multicast tunnel interface.
bool isNonTunnelIntf(Wirl::IntfId intf) noexcept;
// Whether a source join lists an interface that counts (null: no).
bool listsNonTunnelInterface(Gmp::SourceMembershipJoin const* source) noexcept;
// Whether two source joins (either may be null) list the same interfaces
// that count.
bool sameNonTunnelInterfaces(Gmp::SourceMembershipJoin const* a, Gmp::SourceMembershipJoin const* b) noexcept;
// Whether a peer's group entry counts: one of its sources lists an interface
// that counts.
bool peerGroupJoined(Gmp::GroupMembershipJoin const& group) noexcept;

}  // namespace Irb::Multicast::Egress
