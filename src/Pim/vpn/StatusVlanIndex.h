// StatusVlanIndex — for a set of membership join statuses, which of them hold
// an entry for a given VLAN, kept current as the statuses change.
//
// OVERVIEW
//   The reviewer asks "does anyone want group G on VLAN V?" once per reviewed
//   key. Looking V up in every status costs a tree search per status, however
//   few of them hold V. This index maps V to the VLAN entries that exist for
//   it, so a query visits only the statuses that hold the VLAN. One observer
//   per status follows its VLAN entries being added, replaced and removed;
//   what happens below a VLAN entry (groups, sources, interfaces) is read live
//   from the entry by the caller.
//
// GUARANTEES
//   - After every effective change of an indexed status's VLAN collection
//     (delivered synchronously), `vlan(v)` lists exactly the VLAN entries the
//     indexed statuses hold for v, each as the status holds it now.
//   - The entries of a VLAN are in status-name order.
//
// WARNING
//   Single event thread. An indexed status must have its notification on (it
//   is on from the status's factory): changes it makes with notification off
//   are not seen until the status is indexed again.
//
// TYPICAL USAGE
//   StatusVlanIndex index;
//   index.statusIs(status);
//   for (auto const& e : index.vlan(10)) e.vlan->group(group);
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "Vorn/Notifiee.h"
#include "Vorn/Ptr.h"
#include "model/Bridging.h"
#include "model/MembershipJoinStatus.h"

namespace Irb::Multicast::Egress {

class StatusVlanIndex {
 public:
  struct Entry {
    Gmp::MembershipJoinStatus const* status;  // kept alive by the index's observer
    Vorn::Ptr<Gmp::VlanMembershipJoin const> vlan;
  };

  StatusVlanIndex() = default;
  StatusVlanIndex(StatusVlanIndex const&) = delete;
  StatusVlanIndex& operator=(StatusVlanIndex const&) = delete;
  ~StatusVlanIndex();

  // Starts indexing `status` (null or already indexed: nothing happens).
  void statusIs(Vorn::Ptr<Gmp::MembershipJoinStatus const> const& status);
  // Stops indexing `status` (not indexed: nothing happens).
  void statusDel(Gmp::MembershipJoinStatus const* status);

  // The VLAN entries held for `vlanId`, in status-name order. Valid until the
  // next change of an indexed status or of the index.
  std::span<Entry const> vlan(Bridging::VlanId vlanId) const noexcept;


 private:
  // Follows one status's VLAN collection into the index.
  class VornStatus : public Vorn::NotifieeConstOf<Gmp::MembershipJoinStatus> {
   public:
    VornStatus(Vorn::Ptr<Gmp::MembershipJoinStatus const> const& status, StatusVlanIndex* owner);
    void ownerIs(StatusVlanIndex* owner) noexcept { owner_ = owner; }
    void onAttribute(Vorn::AttributeId attribute, Vorn::Key const& key) override;
    char const* fwkType() const override { return "Irb::Multicast::Egress::StatusVlanIndex::VornStatus"; }

   private:
    StatusVlanIndex* owner_;
  };

  // Brings the entry of (`status`, `vlanId`) in line with what the status holds.
  void vlanChanged(Gmp::MembershipJoinStatus const& status, Bridging::VlanId vlanId);
  void entryDel(Gmp::MembershipJoinStatus const* status, Bridging::VlanId vlanId);

  // Indexed by VLAN number (grown to the largest one seen): a query is one
  // array read, with no hash chain to follow.
  std::vector<std::vector<Entry>> byVlan_;
  std::unordered_map<Gmp::MembershipJoinStatus const*, Vorn::Ptr<VornStatus>> observers_;
};

}  // namespace Irb::Multicast::Egress
