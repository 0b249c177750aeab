// Routing::Gmp::Brim::Status — the underlay GMP membership status table.
//
// OVERVIEW
//   One Membership entry per key (source, group, interface); a Join is an
//   entry with value 1. `membershipIs` writes or overwrites the entry of its
//   key (and says whether the key was new), `membershipDel` removes it (a
//   missing key is not an error; removing the entry a walk has just reached,
//   or the one after the entry removed last, costs no search). The
//   entries can be walked one at a time in the table's own order (sorted by
//   key) with an IterHint carrying the position from step to step: start from
//   a cleared key and a fresh hint, then call again with the key filled in.
//   Entries may be removed or added while walking, and the key may be changed
//   between steps: a step always answers from the key it is given. A step moves
//   on from the entry the previous one reached, or from the successor of the
//   entry just removed (a walk deleting as it goes), without searching; it
//   searches the table when neither is certainly right (say, another entry was
//   removed since, or the key was changed).
//
//   Reads raise Corvo::CorruptionDetectedException when the table was armed
//   with `corruptNextReadIs(true)` (BrimMapBase).
//
//   `epoch()` counts the table's effective changes (an entry added, its value
//   changed, an entry removed), by anyone: two equal readings mean nothing
//   changed in between. Writers use it to tell their own changes from
//   others'. The call counters are for observability only (tools and tests:
//   e.g. that a wanted entry was never deleted and rewritten).
//
// BACKINGS
//   `statusIs()` makes an in-process table (the default). `statusIs(name)`
//   backs it with the shared-memory segment `name` as well (SharedSegment.h):
//   other processes read the Joins there, and the table outlives the process.
//   The in-process map stays the walk's ordered index and this process's
//   copy; every write and removal goes through to the segment before
//   observers hear of it. Opening loads the segment's entries (no observer
//   sees them arrive) and reports each slot it had to clear (left mid-write by
//   a writer that died, or damaged) through `doCorruptionDetected`. A walk
//   step checks the slot of the entry it reaches: a damaged slot raises
//   Corvo::CorruptionDetectedException, naming the slot and why, and is
//   written again from this process's copy.
//   A full segment: a new entry the segment has no room for stays in this
//   table only, is reported through `doCorruptionDetected` ("segment full"),
//   counted in `segmentOverflow()`, and goes into the segment as soon as a
//   removal frees a slot. Nothing is dropped silently.
//
// WARNING
//   Single event thread. A hint may be passed to another table or outlive its
//   own (its position is then ignored), but not be shared by two walks at once
//   to any benefit: each step overwrites the position it holds.
//
// TYPICAL USAGE
//   Brim::RouteIntfKey key; Brim::IterHint hint;
//   while (status->membershipIterNext(key, hint)) { ... key is the entry reached ... }
#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>

#include "Brim/BrimMapBase.h"
#include "Brim/RouteIntfKey.h"
#include "Brim/SharedSegment.h"
#include "Vorn/Entity.h"
#include "Vorn/Pool.h"

namespace Routing::Gmp::Brim {

class Status;

// An entry's value. With a shared segment behind the table it also carries
// the slot that holds the entry there, which is no part of the value: not
// compared, not printed (the segment needs no search by key).
class StatusValue {
 public:
  constexpr StatusValue(std::uint32_t value = 0) noexcept : value_(value) {}  // NOLINT: a value
  constexpr operator std::uint32_t() const noexcept { return value_; }       // NOLINT: reads as one
  friend constexpr bool operator==(StatusValue a, StatusValue b) noexcept { return a.value_ == b.value_; }
  template <std::integral I>
  friend constexpr bool operator==(StatusValue a, I b) noexcept {
    return std::cmp_equal(a.value_, b);
  }
  friend std::ostream& operator<<(std::ostream& os, StatusValue v) { return os << v.value_; }

 private:
  friend class Status;
  std::uint32_t value_ = 0;
  std::uint32_t slot_ = SharedSegment::kNoSlot;
};

// The table's entries by key (nodes from Vorn::Pool: a Join is written and
// withdrawn on every membership change).
using StatusEntries =
    std::map<RouteIntfKey, StatusValue, std::less<>, Vorn::PoolAllocator<std::pair<RouteIntfKey const, StatusValue>>>;

// The position of a walk, carried from step to step. Besides saying whether the
// walk has started, it holds the entry the previous step reached, so that the
// next step can move on from there instead of searching the table again. The
// held position is used only while it is certainly valid: on the same table,
// with nothing erased from it since, and for the key that entry has.
struct IterHint {
  bool started = false;

 private:
  friend class Status;
  std::uint64_t table_ = 0;     // the id of the table `at_` belongs to; 0: none held
  std::uint64_t erasures_ = 0;  // that table's erase count when `at_` was taken
  StatusEntries::const_iterator at_{};
};

class Status : public Vorn::Entity, public ::Brim::BrimMapBase {
 public:
  enum Attribute : Vorn::AttributeId { attrMembership = 1 };

  Status() : ::Brim::BrimMapBase("Routing::Gmp::Brim::Status"), id_(newTableId()) {}
  // Not copyable: a copy would carry the table's id, and a hint taken on one
  // would be trusted on the other.
  Status(Status const&) = delete;
  Status& operator=(Status const&) = delete;
  ~Status() override;
  static Vorn::Ptr<Status> statusIs();
  // A table backed by the shared-memory segment `name`, created when missing
  // (see BACKINGS). Raises Corvo::Exception when the segment cannot be used.
  static Vorn::Ptr<Status> statusIs(std::string const& segmentName, SegmentOptions const& options = {});

  // Writes the entry; returns true when the key had none (a new entry).
  bool membershipIs(Membership const& m);
  // Returns whether an entry was removed.
  bool membershipDel(RouteIntfKey const& key);
  std::optional<Membership> membership(RouteIntfKey const& key) const;
  std::size_t membershipCount() const noexcept { return entries_.size(); }

  // One step of a walk: the first entry at or after `key` (fresh hint) or the
  // first entry after `key`; fills `key` in and returns true, or returns false
  // at the end. The answer depends only on `key`, whether the walk has started
  // and the table's entries, never on the position the hint holds (that only
  // spares the search). May raise
  // Corvo::CorruptionDetectedException.
  bool membershipIterNext(RouteIntfKey& key, IterHint& hint) const;

  // All entries in key order (for tools and tests; not a corruption-checked read).
  StatusEntries const& entries() const noexcept { return entries_; }

  // Effective changes so far (see OVERVIEW).
  std::uint64_t epoch() const noexcept { return epoch_; }

  // The shared segment behind the table, or null.
  SharedSegment const* segment() const noexcept { return segment_.get(); }
  // Closes the segment, which keeps the entries it holds now; the table goes
  // on in process only (a host that ends lets its Joins outlive it).
  void segmentRelease() noexcept {
    segment_.reset();
    overflow_.clear();
  }
  // Entries the full segment could not take (held here until it has room).
  std::size_t segmentOverflow() const noexcept { return overflow_.size(); }

  std::uint64_t membershipIsCalls() const noexcept { return isCalls_; }
  std::uint64_t membershipDelCalls() const noexcept { return delCalls_; }

  char const* fwkType() const override { return "Routing::Gmp::Brim::Status"; }

 private:
  using Entries = StatusEntries;

  static std::uint64_t newTableId() noexcept;
  // Whether `it` is the first entry after `key` (end: no entry after it).
  bool isFirstAfter(Entries::const_iterator it, RouteIntfKey const& key) const;

  Entries entries_;
  // Never reused, so a hint from a table that is gone matches no other.
  std::uint64_t const id_;
  // Erasures so far: a held iterator stays valid while this is unchanged
  // (inserts into a std::map invalidate no iterator).
  std::uint64_t erasures_ = 0;
  // The entry that followed the last one erased. Always valid: erasing it
  // moves it on. Lets a walk that removes the entry it stands on go on
  // without a search, once checked against the key.
  Entries::const_iterator afterErase_ = entries_.end();
  // The entry the last walk step reached, valid while no entry has been
  // erased since (reachedErasures_ == erasures_): lets a walk remove the
  // entry it stands on without a search.
  mutable Entries::const_iterator reached_ = entries_.end();
  mutable std::uint64_t reachedErasures_ = 0;
  std::uint64_t epoch_ = 0;
  std::uint64_t isCalls_ = 0;
  std::uint64_t delCalls_ = 0;
  // Segment writes of an entry whose node `it` is.
  void segmentInsert(Entries::iterator it);
  std::unique_ptr<SharedSegment> segment_;
  std::set<RouteIntfKey> overflow_;  // entries the full segment has no slot for
};

}  // namespace Routing::Gmp::Brim
