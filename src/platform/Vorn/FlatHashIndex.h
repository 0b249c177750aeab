// Vorn::FlatHashIndex — an open-addressing hash index of small handles
// (pointers, tree iterators) that are found through the key they lead to.
//
// OVERVIEW
//   The index stores each handle next to its key's hash in one flat array of
//   16-byte slots (linear probing, power-of-two capacity, at most 3/4 full),
//   so finding a key costs one probe sequence in contiguous memory plus one
//   read of the handle's own object to compare the key: no bucket array, no
//   list node. The key itself is not stored: `KeyOf` reads it from a handle.
//   Removal shifts the following slots back (no tombstones), so lookups never
//   slow down with churn.
//
//   Hashes come from std::hash<K> and are scrambled (Fibonacci hashing)
//   before picking a slot: std::hash of an integer is the integer itself.
//
// GUARANTEES
//   - `insert` and `erase` keep every other handle findable; growing rehashes
//     from the stored hashes without reading any handle.
//   - Iteration order is the slot order: arbitrary, not stable across
//     changes. Callers that need an order keep it elsewhere.
//
// WARNING
//   A handle must keep the key it was inserted under until it is erased.
//   Not thread safe.
//
// TYPICAL USAGE
//   struct KeyOf { Key const& operator()(Node* n) const { return n->key; } };
//   Vorn::FlatHashIndex<Key, Node*, KeyOf> index;
//   index.insert(node);  Node* const* found = index.find(key);  index.erase(key);
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace Vorn {

template <class K, class T, class KeyOf, class Hash = std::hash<K>>
class FlatHashIndex {
  static_assert(std::is_trivially_copyable_v<T>, "the index moves handles as raw words");

 public:
  FlatHashIndex() = default;
  FlatHashIndex(FlatHashIndex const& o) { *this = o; }
  FlatHashIndex& operator=(FlatHashIndex const& o) {
    if (this == &o) return *this;
    clear();
    reserve(o.size_);
    for (Slot const& s : o.slotSpan()) {
      if (s.tag) place(s.tag, s.value);
    }
    size_ = o.size_;
    return *this;
  }
  FlatHashIndex(FlatHashIndex&& o) noexcept
      : slots_(std::move(o.slots_)), mask_(std::exchange(o.mask_, 0)), size_(std::exchange(o.size_, 0)) {}
  FlatHashIndex& operator=(FlatHashIndex&& o) noexcept {
    slots_ = std::move(o.slots_);
    mask_ = std::exchange(o.mask_, 0);
    size_ = std::exchange(o.size_, 0);
    return *this;
  }
  ~FlatHashIndex() = default;

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

  // The handle stored under `key`, or null.
  T const* find(K const& key) const { return size_ == 0 ? nullptr : find(key, tagOf(key)); }

  // Adds `value`, whose key must not be in the index yet.
  void insert(T value) { insert(value, tagOf(KeyOf()(value))); }
  // The same, with the tag of its key already computed (`tagOf`): a lookup
  // that found nothing need not hash the key again.
  void insert(T value, std::uint64_t tag) {
    if ((size_ + 1) * 4 > capacity() * 3) grow((size_ + 1) * 2);
    place(tag, value);
    ++size_;
  }

  // The key's scrambled hash as the index stores it.
  static std::uint64_t tagOf(K const& key) {
    std::uint64_t const h = static_cast<std::uint64_t>(Hash()(key)) * 0x9E3779B97F4A7C15ull;
    return h | 1;  // keeps 0 for free slots
  }
  // find() for a tag computed beforehand.
  T const* find(K const& key, std::uint64_t tag) const {
    if (size_ == 0) return nullptr;
    for (std::size_t i = home(tag);; i = (i + 1) & mask_) {
      Slot const& s = slots_[i];
      if (s.tag == 0) return nullptr;
      if (s.tag == tag && KeyOf()(s.value) == key) return &s.value;
    }
  }

  // Removes the handle under `key`; returns whether there was one.
  bool erase(K const& key) { return eraseIf(key, [](T const&) { return true; }); }
  // Removes the handle under `key` only if it is `value` (one probe for a
  // caller that holds the handle and must not remove another one).
  bool erase(K const& key, T value) { return eraseIf(key, [&](T const& held) { return held == value; }); }

  void clear() noexcept {
    slots_.reset();
    mask_ = 0;
    size_ = 0;
  }

  // Room for `n` handles without growing.
  void reserve(std::size_t n) {
    if (n * 4 > capacity() * 3) grow(n);
  }

  // Calls f(handle) for every handle, in slot order. `f` must not change the index.
  template <class F>
  void forEach(F&& f) const {
    for (Slot const& s : slotSpan()) {
      if (s.tag) f(s.value);
    }
  }

 private:
  struct Slot {
    std::uint64_t tag = 0;  // the scrambled hash, never 0 in a used slot; 0: free
    T value{};
  };
  struct SlotSpan {
    Slot const* b;
    Slot const* e;
    Slot const* begin() const { return b; }
    Slot const* end() const { return e; }
  };

  std::size_t capacity() const noexcept { return slots_ ? mask_ + 1 : 0; }
  SlotSpan slotSpan() const noexcept { return {slots_.get(), slots_.get() + capacity()}; }

  // The top bits of the scrambled hash are the well-mixed ones.
  std::size_t home(std::uint64_t tag) const noexcept {
    return static_cast<std::size_t>(tag >> 32) & mask_;
  }

  void place(std::uint64_t tag, T value) noexcept {
    std::size_t i = home(tag);
    while (slots_[i].tag != 0) i = (i + 1) & mask_;
    slots_[i].tag = tag;
    slots_[i].value = value;
  }

  template <class Pred>
  bool eraseIf(K const& key, Pred pred) {
    if (size_ == 0) return false;
    std::uint64_t const tag = tagOf(key);
    for (std::size_t i = home(tag);; i = (i + 1) & mask_) {
      Slot const& s = slots_[i];
      if (s.tag == 0) return false;
      if (s.tag == tag && KeyOf()(s.value) == key) {
        if (!pred(s.value)) return false;
        removeAt(i);
        return true;
      }
    }
  }

  // Backward-shift deletion: moves later slots of the same run into the hole
  // when their home position allows it.
  void removeAt(std::size_t hole) noexcept {
    std::size_t i = hole;
    for (;;) {
      i = (i + 1) & mask_;
      Slot& s = slots_[i];
      if (s.tag == 0) break;
      std::size_t const h = home(s.tag);
      // s may fill the hole when its home is not in (hole, i] (cyclically).
      bool const stays = hole <= i ? (hole < h && h <= i) : (hole < h || h <= i);
      if (stays) continue;
      slots_[hole] = s;
      hole = i;
    }
    slots_[hole] = Slot{};
    --size_;
  }

  void grow(std::size_t atLeast) {
    std::size_t cap = 16;
    while (cap * 3 < atLeast * 4) cap *= 2;
    std::size_t const oldCap = capacity();
    if (cap <= oldCap) return;
    std::unique_ptr<Slot[]> old = std::move(slots_);
    slots_ = std::make_unique<Slot[]>(cap);
    mask_ = cap - 1;
    for (std::size_t i = 0; i < oldCap; ++i) {
      if (old[i].tag) place(old[i].tag, old[i].value);
    }
  }

  std::unique_ptr<Slot[]> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

}  // namespace Vorn
