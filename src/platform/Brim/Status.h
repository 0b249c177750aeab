// Routing::Gmp::Brim::Status — the underlay GMP membership status table.
//
// OVERVIEW
//   One Membership entry per key (source, group, interface); a Join is an
//   entry with value 1. `membershipIs` writes or overwrites the entry of its
//   key (and says whether the key was new), `membershipDel` removes it (a
//   missing key is not an error). Both, and `membership(key)`, are one probe
//   of a hash table: their cost does not grow with the table. The buckets
//   are sized for the entries (a Join takes 56 to 84 bytes of them) whenever
//   they are rebuilt: when entries and removal marks fill 7/8 of them, or
//   when entries fall below 1/8 (a mass removal gives the memory back).
//   The entries can be walked one at a time in the table's own order (sorted by
//   key) with an IterHint carrying the position from step to step: start from
//   a cleared key and a fresh hint, then call again with the key filled in.
//   Entries may be removed or added while walking, and the key may be changed
//   between steps: a step always answers from the key it is given. A step moves
//   on from the position the previous one reached without searching when that
//   position is certainly right for the key (checked against its neighbours),
//   else it searches.
//
//   Walks use a sorted copy of the keys, built when a walk needs it and kept
//   while it stays cheap to keep: keys added since are held in a small sorted
//   side set, keys removed since are skipped. Many additions drop the copy
//   (point operations then pay nothing for it); a walk that ends drops it too,
//   freeing its memory. A walk step is O(log n) at worst, O(1) amortised when
//   it moves on from the previous one; the first step after the copy was
//   dropped sorts the keys.
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
//   The in-process table stays this process's copy (each entry keeps the slot
//   that holds it in the segment); every write and removal goes through to
//   the segment before observers hear of it. Opening loads the segment's
//   entries (no observer sees them arrive) and reports each slot it had to
//   clear (left mid-write by a writer that died, or damaged) through
//   `doCorruptionDetected`. A walk step checks the slot of the entry it
//   reaches: a damaged slot raises Corvo::CorruptionDetectedException, naming
//   the slot and why, and is written again from this process's copy.
//   A full segment: a new entry the segment has no room for stays in this
//   table only, is reported through `doCorruptionDetected` ("segment full"),
//   counted in `segmentOverflow()`, and goes into the segment as soon as a
//   removal frees a slot. Nothing is dropped silently.
//
// WARNING
//   Single event thread. A hint may be passed to another table or outlive its
//   own (a step checks the position against the key before using it), but not be shared by two walks at once to any benefit: each
//   step overwrites the position it holds.
//
// TYPICAL USAGE
//   Brim::RouteIntfKey key; Brim::IterHint hint;
//   while (status->membershipIterNext(key, hint)) { ... key is the entry reached ... }
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Brim/BrimMapBase.h"
#include "Brim/RouteIntfKey.h"
#include "Brim/SharedSegment.h"
#include "Vorn/Entity.h"

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

// A sorted snapshot of the table's entries (see Status::entries).
using StatusEntries = std::map<RouteIntfKey, StatusValue, std::less<>>;

// The position of a walk, carried from step to step. Besides saying whether the
// walk has started, it holds where the previous step stood in the table's
// sorted keys, so that the next step can move on from there instead of
// searching. The position is used only when the keys around it show it is
// right for the key the step is given (on whatever table).
struct IterHint {
  bool started = false;

 private:
  friend class Status;
  std::size_t pos_ = 0;  // in the sorted keys: the first one after the key reached
};

class Status : public Vorn::Entity, public ::Brim::BrimMapBase {
 public:
  enum Attribute : Vorn::AttributeId { attrMembership = 1 };

  Status() : ::Brim::BrimMapBase("Routing::Gmp::Brim::Status") {}
  // Not copyable: the entries keep the slots of one segment.
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
  std::size_t membershipCount() const noexcept { return count_; }
  // Room for `entries` entries in all without growing (a writer about to add
  // many: one rebuild instead of one per doubling). Never shrinks the table;
  // removals may shrink it again later.
  void reserve(std::size_t entries);

  // One step of a walk: the first entry at or after `key` (fresh hint) or the
  // first entry after `key`; fills `key` in and returns true, or returns false
  // at the end. The answer depends only on `key`, whether the walk has started
  // and the table's entries, never on the position the hint holds (that only
  // spares the search). May raise
  // Corvo::CorruptionDetectedException.
  bool membershipIterNext(RouteIntfKey& key, IterHint& hint) const;

  // A copy of all entries in key order (for tools and tests: it costs a sort
  // of the table; not a corruption-checked read).
  StatusEntries entries() const;

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
  // One bucket of the hash table. The key and value sit together so that a
  // point operation touches one or two cache lines of entries; the bucket's
  // state and a few bits of its key's hash live apart, in `ctrl_` (one byte
  // per bucket), so that a probe scans them without touching entries.
  struct Bucket {
    RouteIntfKey key;
    StatusValue value;
  };
  static constexpr std::size_t kNone = ~std::size_t{0};

  static std::uint64_t hashOf(RouteIntfKey const& key) noexcept;
  // The bucket holding `key`, or kNone.
  std::size_t find(RouteIntfKey const& key, std::uint64_t hash) const noexcept;
  // Puts a new entry (the key has none) into the table; returns its bucket.
  std::size_t insertNew(RouteIntfKey const& key, StatusValue value, std::uint64_t hash);
  void erase(std::size_t bucket) noexcept;
  // Moves every entry into `capacity` fresh buckets (tombstones go).
  void rehash(std::size_t capacity);
  // The hash's top 32 bits scaled to the capacity (which need not be a power
  // of two); keys go in bucket order by hash, so a rehash writes in order.
  std::size_t home(std::uint64_t hash) const noexcept {
    return static_cast<std::size_t>(((hash >> 32) * capacity_) >> 32);
  }
  std::size_t nextBucket(std::size_t i) const noexcept { return i + 1 == capacity_ ? 0 : i + 1; }

  // The sorted copy of the keys walks use (see OVERVIEW).
  void sortedBuild() const;
  void sortedDrop() const noexcept;

  std::unique_ptr<std::uint8_t[]> ctrl_;  // kEmpty, kTombstone or kFull | hash bits
  // Bucket storage is left unconstructed until an entry goes in (a full
  // bucket holds a constructed entry): a rehash writes each new bucket once.
  struct BucketsFree {
    std::size_t capacity;
    void operator()(Bucket* b) const noexcept { std::allocator<Bucket>().deallocate(b, capacity); }
  };
  std::unique_ptr<Bucket[], BucketsFree> buckets_;
  std::size_t capacity_ = 0;
  std::size_t count_ = 0;  // entries
  std::size_t used_ = 0;   // entries and tombstones

  // The walk's sorted keys: every entry's key is in `sorted_` or in `added_`.
  // `sorted_` may hold keys removed since it was built: those marked in
  // `gone_` (a walk removing the entry it has just reached: no search needed
  // to mark it), and `removed_` others (or fewer: while it is 0 every
  // unmarked key is in the table, else a step looks each key up). Nothing
  // held while `sortedBuilt_` is false.
  mutable std::vector<RouteIntfKey> sorted_;
  mutable std::vector<bool> gone_;
  mutable std::set<RouteIntfKey> added_;
  mutable std::size_t removed_ = 0;
  mutable std::size_t goneCount_ = 0;
  mutable std::size_t reached_ = kNone;  // where in `sorted_` the last step's key is
  mutable bool sortedBuilt_ = false;

  std::uint64_t epoch_ = 0;
  std::uint64_t isCalls_ = 0;
  std::uint64_t delCalls_ = 0;
  // Segment writes of the entry in `bucket`.
  void segmentInsert(std::size_t bucket);
  std::unique_ptr<SharedSegment> segment_;
  std::set<RouteIntfKey> overflow_;  // entries the full segment has no slot for
};

}  // namespace Routing::Gmp::Brim
