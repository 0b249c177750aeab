// Keel::DedupHashTable — shares one counted handle per key among all holders,
// and tells a lifetime notifiee when a key's handle comes and goes.
//
// OVERVIEW
//   `dedup(key)` returns the table's handle for `key`, creating it when absent.
//   Every holder of the same key shares that handle. When the last Ptr to a
//   handle is released, the handle leaves the table and is deleted. The
//   table's lifetime notifiee sees `handleInsert` once per created handle and
//   `handleRemove` once per handle that leaves.
//
// GUARANTEES
//   - handleInsert runs exactly once per new handle, after it is in the table.
//     If it throws, the new entry is removed again (no handleRemove) and the
//     exception propagates out of dedup().
//   - On the last release: the entry is removed from the table first, then
//     the handle is marked beingDetached(), then handleRemove(handle) runs,
//     then the handle is deleted. During handleRemove the handle is "being
//     destroyed": building and dropping a Ptr to it is harmless, and a dedup()
//     of the same key creates a fresh handle.
//   - Callbacks are delivered only while the table's notification is on (it
//     is on from construction). Switching it off calls handleNotificationStop.
//     The notifiee may therefore see removes of handles it never saw inserted.
//   - `lookup` takes no reference.
//   - A table destroyed with outstanding handles first calls
//     handleNotificationStop (if notification is on), then orphans them: their
//     later release just deletes them, with no callback.
//
// WARNING
//   Single event thread. handleRemove runs from a release (a noexcept path):
//   it must not throw. A table whose notifiee is to be told of a stop must be
//   owned through a Vorn::Ptr (the notifiee receives a Ptr to it), and the
//   notifiee must not keep that Ptr past the call made from the destructor.
//
// TYPICAL USAGE
//   auto table = Vorn::make<Routing::Gmp::MembershipDedupTable>(notifiee);
//   Vorn::Ptr<Routing::Gmp::MembershipDeduped const> h = table->dedup(key);  // shared per key
//   h = nullptr;  // last holder: handleRemove, entry gone
#pragma once

#include <cassert>
#include <cstddef>
#include <functional>

#include "Vorn/FlatHashIndex.h"
#include "Vorn/Ptr.h"

namespace Keel {

class DedupHashTable;

// The shared entry for one key.
class DedupHandle : public Vorn::PtrInterface {
 public:
  DedupHandle() noexcept = default;
  DedupHandle(DedupHandle const&) = delete;

  // True from the moment the last reference went until the handle is deleted.
  bool beingDetached() const noexcept { return beingDetached_; }
  // False once the table is gone (or the handle was never kept by it).
  bool inTable() const noexcept { return table_ != nullptr; }

  char const* fwkType() const override { return "Keel::DedupHandle"; }

 protected:
  void zeroReferencesIs() const override;

 private:
  friend class DedupHashTable;

  // The flags first: they fit in PtrInterface's spare bytes, so a handle takes
  // three words before the derived class's key.
  bool beingDetached_ = false;

 protected:
  // One byte a derived handle may use for a flag of its own, in the same
  // spare bytes (a flag after the key would cost a whole 16-byte block).
  mutable bool derivedFlag_ = false;

 private:
  DedupHashTable* table_ = nullptr;  // null when orphaned
};

class DedupHashTableLifeTimeNotifiee : public Vorn::PtrInterface {
 public:
  // A handle was created and entered the table.
  virtual void handleInsert(Vorn::Ptr<DedupHandle> const& handle) const;
  // A handle left the table (its last reference went). Must not throw.
  virtual void handleRemove(DedupHandle* handle) const;
  // The table stopped delivering (notification off, or table destroyed).
  virtual void handleNotificationStop(Vorn::Ptr<DedupHashTable const> const& table) const;

  char const* fwkType() const override { return "Keel::DedupHashTableLifeTimeNotifiee"; }
};

class DedupHashTable : public Vorn::PtrInterface {
 public:
  explicit DedupHashTable(Vorn::Ptr<DedupHashTableLifeTimeNotifiee> notifiee);
  DedupHashTable(DedupHashTable const&) = delete;
  ~DedupHashTable() override;

  Vorn::Ptr<DedupHashTableLifeTimeNotifiee> const& lifetimeNotifiee() const noexcept { return notifiee_; }

  // Lifetime callbacks are delivered only while on. Switching off calls
  // handleNotificationStop(this).
  void hasNotificationActiveIs(bool active) override;

  char const* fwkType() const override { return "Keel::DedupHashTable"; }

 protected:
  // Takes `handle` out of the derived table's storage (if it is there).
  virtual void entryDel(DedupHandle* handle) = 0;

  // Makes `handle` belong to this table.
  void adopt(DedupHandle* handle) noexcept { handle->table_ = this; }
  // Cuts `handle` loose: its release no longer reaches the table.
  static void orphan(DedupHandle* handle) noexcept { handle->table_ = nullptr; }

  bool delivering() const noexcept { return notifiee_ && hasNotificationActive(); }
  void notifyInsert(DedupHandle* handle) const;
  // Called first by derived destructors, while their entries still exist:
  // delivers handleNotificationStop if notification is on, and switches it off.
  void notificationStop();

 private:
  friend class DedupHandle;

  // The last reference to `handle` went.
  void handleReleased(DedupHandle* handle);

  Vorn::Ptr<DedupHashTableLifeTimeNotifiee> notifiee_;
};

// A dedup table whose entries are the handles themselves. HandleT derives
// from DedupHandle, is constructible from KeyT const& and exposes
// `KeyT const& key() const`; std::hash<KeyT> hashes the key. The key is
// stored once, in the handle: the table is a flat hash index of handle
// pointers compared through their keys (Vorn::FlatHashIndex), so an entry
// costs one 16-byte slot and a lookup one probe plus the handle itself.
template <class KeyT, class HandleT>
class DedupHashTableOf : public DedupHashTable {
 public:
  using Key = KeyT;
  using Handle = HandleT;

  explicit DedupHashTableOf(Vorn::Ptr<DedupHashTableLifeTimeNotifiee> notifiee)
      : DedupHashTable(std::move(notifiee)) {}

  ~DedupHashTableOf() override {
    notificationStop();
    entries_.forEach([](HandleT* handle) { orphan(handle); });
    entries_.clear();
  }

  // The shared handle for `key`, created (and announced) when absent.
  [[nodiscard]] Vorn::Ptr<HandleT const> dedup(KeyT const& key) {
    std::uint64_t const tag = Entries::tagOf(key);
    if (HandleT* const* found = entries_.find(key, tag)) {
      assert(!(*found)->beingDetached() && "!beingDetached()");
      return Vorn::Ptr<HandleT const>(*found);
    }
    HandleT* handle = new HandleT(key);
    Vorn::Ptr<HandleT const> held(handle);
    entries_.insert(handle, tag);
    adopt(handle);
    try {
      notifyInsert(handle);
    } catch (...) {
      entryDel(handle);
      orphan(handle);  // its release (now, or by whoever kept a copy) just deletes it
      throw;
    }
    return held;
  }

  // The handle for `key`, or null. Takes no reference.
  HandleT const* lookup(KeyT const& key) const {
    HandleT* const* found = entries_.find(key);
    if (!found) return nullptr;
    assert(!(*found)->beingDetached() && "!beingDetached()");
    return *found;
  }

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  // Room for `n` handles without growing (for a start-up of known size).
  void reserve(std::size_t n) { entries_.reserve(n); }

 protected:
  void entryDel(DedupHandle* handle) override {
    auto* h = static_cast<HandleT*>(handle);
    entries_.erase(h->key(), h);
  }

 private:
  struct KeyOf {
    KeyT const& operator()(HandleT const* handle) const noexcept { return handle->key(); }
  };

  using Entries = Vorn::FlatHashIndex<KeyT, HandleT*, KeyOf>;
  Entries entries_;
};

}  // namespace Keel
