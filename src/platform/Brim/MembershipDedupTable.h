// Routing::Gmp::MembershipDedupTable — one shared, counted handle per
// (source, group, interface) membership.
//
// Every holder of the same RouteIntfKey shares one MembershipDeduped; the
// table's lifetime notifiee sees the first holder arrive (handleInsert) and the
// last one leave (handleRemove). All guarantees and limits are those of
// Keel::DedupHashTableOf (single event thread; own the table through a Ptr).
//
//   auto table = Vorn::make<Routing::Gmp::MembershipDedupTable>(notifiee);
//   auto m = table->dedup(Brim::RouteIntfKey(src, grp, Wirl::VlanIntfId::vlanIdToIntfId(10)));
//   m->key().group();  // shared by every holder of that key
#pragma once

#include "Brim/RouteIntfKey.h"
#include "Keel/DedupHashTable.h"

namespace Routing::Gmp {

class MembershipDeduped : public Keel::DedupHandle {
 public:
  explicit MembershipDeduped(Brim::RouteIntfKey const& key) noexcept : key_(key) {}

  Brim::RouteIntfKey const& key() const noexcept { return key_; }
  // Whether the entry was already in the status table when the Join of this
  // handle was written (the writer sets it): the Join was adopted, not made.
  bool adopted() const noexcept { return derivedFlag_; }
  void adoptedIs(bool adopted) const noexcept { derivedFlag_ = adopted; }

  char const* fwkType() const override { return "Routing::Gmp::MembershipDeduped"; }

 private:
  Brim::RouteIntfKey const key_;
};

// Four words of handle and the key: one 64-byte block per Join.
static_assert(sizeof(MembershipDeduped) <= 64, "the adopted flag belongs in the base's spare bytes");

class MembershipDedupTable : public Keel::DedupHashTableOf<Brim::RouteIntfKey, MembershipDeduped> {
 public:
  explicit MembershipDedupTable(Vorn::Ptr<Keel::DedupHashTableLifeTimeNotifiee> notifiee)
      : DedupHashTableOf(std::move(notifiee)) {}

  char const* fwkType() const override { return "Routing::Gmp::MembershipDedupTable"; }
};

}  // namespace Routing::Gmp
