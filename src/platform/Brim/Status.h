// Routing::Gmp::Brim::Status — the underlay GMP membership status table.
//
// OVERVIEW
//   One Membership entry per key (source, group, interface); a Join is an
//   entry with value 1. `membershipIs` writes or overwrites the entry of its
//   key, `membershipDel` removes it (a missing key is not an error). The
//   entries can be walked one at a time in the table's own order (sorted by
//   key) with an IterHint carrying the position from step to step: start from
//   a cleared key and a fresh hint, then call again with the key filled in.
//   Entries may be removed while walking.
//
//   Reads raise Corvo::CorruptionDetectedException when the table was armed
//   with `corruptNextReadIs(true)` (BrimMapBase). Call counters let tests see
//   what writers did (e.g. that a wanted entry was never deleted and rewritten).
//
// TYPICAL USAGE
//   Brim::RouteIntfKey key; Brim::IterHint hint;
//   while (status->membershipIterNext(key, hint)) { ... key is the entry reached ... }
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "Brim/BrimMapBase.h"
#include "Brim/RouteIntfKey.h"
#include "Vorn/Entity.h"

namespace Routing::Gmp::Brim {

struct IterHint {
  bool started = false;
};

class Status : public Vorn::Entity, public ::Brim::BrimMapBase {
 public:
  enum Attribute : Vorn::AttributeId { attrMembership = 1 };

  Status() : ::Brim::BrimMapBase("Routing::Gmp::Brim::Status") {}
  static Vorn::Ptr<Status> statusIs();

  void membershipIs(Membership const& m);
  // Returns whether an entry was removed.
  bool membershipDel(RouteIntfKey const& key);
  std::optional<Membership> membership(RouteIntfKey const& key) const;
  std::size_t membershipCount() const noexcept { return entries_.size(); }

  // One step of a walk: the first entry (fresh hint) or the entry after `key`;
  // fills `key` in and returns true, or returns false at the end. May raise
  // Corvo::CorruptionDetectedException.
  bool membershipIterNext(RouteIntfKey& key, IterHint& hint) const;

  // All entries in key order (for tools and tests; not a corruption-checked read).
  std::map<RouteIntfKey, std::uint32_t> const& entries() const noexcept { return entries_; }

  std::uint64_t membershipIsCalls() const noexcept { return isCalls_; }
  std::uint64_t membershipDelCalls() const noexcept { return delCalls_; }

  char const* fwkType() const override { return "Routing::Gmp::Brim::Status"; }

 private:
  std::map<RouteIntfKey, std::uint32_t> entries_;
  std::uint64_t isCalls_ = 0;
  std::uint64_t delCalls_ = 0;
};

}  // namespace Routing::Gmp::Brim
