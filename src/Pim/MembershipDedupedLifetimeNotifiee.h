// Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee — the Join writer.
//
// OVERVIEW
//   The lifetime notifiee of an inject path's Join dedup table, and the only
//   component that writes Joins. When the first handle for a Join key comes
//   into being (`handleInsert`) it writes the Membership entry (that key,
//   value 1) into the underlay GMP status table; when the last holder lets go
//   (`handleRemove`) it deletes the entry. So, per dedup table, the status
//   table holds one Join per key for as long as any reactor wants it.
//
//   Both operations are unconditional and trace a Dyad statement (level 7 of
//   "Pim::L3InjectSm" and the Flit ring buffer). The entry key is the dedup
//   key byte for byte: the writer never computes a key of its own.
//
// WARNING
//   `gmpStatus` must be set. Destroying the writer writes nothing: the owner
//   withdraws its Joins (releases its handles) before it lets the table go.
//
// TYPICAL USAGE
//   auto writer = Vorn::make<MembershipDedupedLifetimeNotifiee>(gmpStatus);
//   auto table = Vorn::make<Routing::Gmp::MembershipDedupTable>(writer);
//   auto handle = table->dedup(key);   // Join written
#pragma once

#include "Brim/MembershipDedupTable.h"
#include "Brim/Status.h"
#include "Keel/DedupHashTable.h"
#include "Vorn/Ptr.h"

namespace Irb::Multicast::Egress {

class MembershipDedupedLifetimeNotifiee : public Keel::DedupHashTableLifeTimeNotifiee {
 public:
  explicit MembershipDedupedLifetimeNotifiee(Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus);

  Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus() const noexcept { return gmpStatus_; }
  void gmpStatusIs(Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus) { gmpStatus_ = gmpStatus; }

  void handleInsert(Vorn::Ptr<Keel::DedupHandle> const& routeIntf) const override;
  void handleRemove(Keel::DedupHandle* routeIntf) const override;

  char const* fwkType() const override { return "Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee"; }

 private:
  Vorn::Ptr<Routing::Gmp::Brim::Status> gmpStatus_;
};

// The instantiating mutators both inject paths share for their Join writer
// and its dedup table. The writer is kept and only re-pointed when the status
// table differs; the table is kept while it was built on this notifiee, else
// replaced (notification on) and the old one released. A null argument raises
// MutatorNullArgumentException naming `ownerType` and the attribute, and
// changes nothing: a writer without a table would fail at its first Join.
Vorn::Ptr<MembershipDedupedLifetimeNotifiee> underlayInjectNotifieeIs(
    Vorn::Ptr<MembershipDedupedLifetimeNotifiee>& slot, Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus,
    char const* ownerType);
Vorn::Ptr<Routing::Gmp::MembershipDedupTable> underlayInjectDedupTableIs(
    Vorn::Ptr<Routing::Gmp::MembershipDedupTable>& slot,
    Vorn::Ptr<Keel::DedupHashTableLifeTimeNotifiee> const& lifetimeNotifiee, char const* ownerType);

}  // namespace Irb::Multicast::Egress
