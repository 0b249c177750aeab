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
//   The writer counts what it did: the calls it made to its status table, the
//   Joins it wrote over an entry the table already held (rewrites), and its
//   breaks (re-pointed to another table, or its dedup table stopped
//   delivering). With the table's own call counts, an owner can tell that
//   nobody else changed the table over a stretch of time, and so that the
//   table still mirrors its dedup table (see L3InjectSm's start-up).
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

#include <cstdint>

#include "Brim/MembershipDedupTable.h"
#include "Brim/Status.h"
#include "Keel/DedupHashTable.h"
#include "Vorn/Ptr.h"

namespace Irb::Multicast::Egress {

class MembershipDedupedLifetimeNotifiee : public Keel::DedupHashTableLifeTimeNotifiee {
 public:
  explicit MembershipDedupedLifetimeNotifiee(Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus);

  Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus() const noexcept { return gmpStatus_; }
  void gmpStatusIs(Vorn::Ptr<Routing::Gmp::Brim::Status> const& gmpStatus) {
    if (gmpStatus == gmpStatus_) return;
    gmpStatus_ = gmpStatus;
    ++breaks_;
  }

  void handleInsert(Vorn::Ptr<Keel::DedupHandle> const& routeIntf) const override;
  void handleRemove(Keel::DedupHandle* routeIntf) const override;
  void handleNotificationStop(Vorn::Ptr<Keel::DedupHashTable const> const& table) const override;

  // Calls made to the status table (Joins written, Joins deleted), rewrites
  // and breaks.
  std::uint64_t membershipIsCalls() const noexcept { return isCalls_; }
  std::uint64_t membershipDelCalls() const noexcept { return delCalls_; }
  std::uint64_t rewrites() const noexcept { return rewrites_; }
  std::uint64_t breaks() const noexcept { return breaks_; }

  char const* fwkType() const override { return "Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee"; }

 private:
  Vorn::Ptr<Routing::Gmp::Brim::Status> gmpStatus_;
  mutable std::uint64_t isCalls_ = 0;
  mutable std::uint64_t delCalls_ = 0;
  mutable std::uint64_t rewrites_ = 0;
  mutable std::uint64_t breaks_ = 0;
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
