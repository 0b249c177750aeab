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
//   The writer follows the table's modification epoch: it knows from which
//   epoch on every change of the table was its own (`onlyOwnChangesSince`),
//   so an owner can tell that nobody else changed the table over a stretch of
//   time, and so that the table still mirrors the dedup table (see
//   L3InjectSm's start-up). A writer re-pointed to another table, or whose
//   dedup table stopped delivering, mirrors nothing any more and says so.
//   It also counts what it did (calls, rewrites over an existing entry,
//   breaks), for observability only.
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
#include "Pim/join/JoinProvenance.h"
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
    mirroring_ = false;
  }

  void handleInsert(Vorn::Ptr<Keel::DedupHandle> const& routeIntf) const override;
  void handleRemove(Keel::DedupHandle* routeIntf) const override;
  void handleNotificationStop(Vorn::Ptr<Keel::DedupHashTable const> const& table) const override;

  // Whether every change of the status table since it stood at `epoch` was
  // made by this writer, while it mirrored its dedup table.
  bool onlyOwnChangesSince(std::uint64_t epoch) const noexcept;

  // Calls made to the status table (Joins written, Joins deleted), rewrites
  // and breaks: observability only.
  std::uint64_t membershipIsCalls() const noexcept { return isCalls_; }
  std::uint64_t membershipDelCalls() const noexcept { return delCalls_; }
  std::uint64_t rewrites() const noexcept { return rewrites_; }
  std::uint64_t breaks() const noexcept { return breaks_; }
  // The path counters the writer keeps: Joins written, withdrawn, rewritten.
  void joinCountsInto(InjectCounters& counters) const noexcept {
    counters.joinsWritten = isCalls_;
    counters.joinsWithdrawn = delCalls_;
    counters.joinsRewritten = rewrites_;
  }

  char const* fwkType() const override { return "Irb::Multicast::Egress::MembershipDedupedLifetimeNotifiee"; }

 private:
  // Around a change of its own: notes a change by anyone else since the last
  // one, or during this one; returns the epoch before it.
  std::uint64_t ownChangeStarts(Routing::Gmp::Brim::Status const& status) const;
  void ownChangeEnds(Routing::Gmp::Brim::Status const& status, std::uint64_t before) const;

  Vorn::Ptr<Routing::Gmp::Brim::Status> gmpStatus_;
  mutable std::uint64_t isCalls_ = 0;
  mutable std::uint64_t delCalls_ = 0;
  mutable std::uint64_t rewrites_ = 0;
  mutable std::uint64_t breaks_ = 0;
  // The table's epoch right after this writer's last change, and the epoch
  // from which on every change was this writer's (a change by anyone else
  // moves it up to the epoch the writer then finds).
  mutable std::uint64_t lastOwnEpoch_ = 0;
  mutable std::uint64_t ownSince_ = 0;
  mutable bool mirroring_ = true;
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
