// Vorn::SortedReactorSet — a compact sorted set of counted reactors, for
// owners that keep many small collections of child reactors.
//
// Counted references kept sorted
// by a key each reactor derives (`KeyOf()(reactor)`, which must not change
// while the reactor is in the set), all in one word. Empty: nothing; one
// reactor: the reactor itself, no block of its own; two or more (or after
// `reserve`): one block of sorted slots. Most collections of a tracker (a
// peer's groups of a VLAN, a group's sources) hold one reactor, so most cost
// 8 bytes and no allocation; a large one costs about 8 bytes a reactor and a
// binary search a lookup (an insert or a removal in the middle moves the
// slots after it).
//
// `walk` goes by key and holds each reactor while its callback runs, so the
// callback may add or remove reactors (later keys added are visited, removed
// ones are not). Plain iteration (begin/end, yielding R*) is valid until the
// set changes. Single event thread.
//
//   SortedReactorSet<Reactor, Key, KeyOfReactor> set;
//   set.set(reactor);   if (Reactor* r = set.find(key)) ...;   set.take(key);
//   set.walk([](Ptr<Reactor> const& r) { r->hasNotificationActiveIs(false); });
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "Vorn/Ptr.h"

namespace Vorn {

template <class R, class K, class KeyOf>
class SortedReactorSet {
 public:
  class Iterator {
   public:
    Iterator(SortedReactorSet const* set, std::size_t index) noexcept : set_(set), index_(index) {}
    R* operator*() const { return set_->at(index_); }
    Iterator& operator++() noexcept {
      ++index_;
      return *this;
    }
    bool operator==(Iterator const& o) const noexcept { return index_ == o.index_; }

   private:
    SortedReactorSet const* set_;
    std::size_t index_;
  };

  SortedReactorSet() noexcept = default;
  SortedReactorSet(SortedReactorSet const&) = delete;
  SortedReactorSet& operator=(SortedReactorSet const&) = delete;
  ~SortedReactorSet() { clear(); }

  std::size_t size() const noexcept {
    if (word_ == 0) return 0;
    Many const* m = many();
    return m ? m->size : 1;
  }
  bool empty() const noexcept { return size() == 0; }
  // The reactor at `index` in key order.
  R* at(std::size_t index) const {
    assert(index < size() && "index past the end of a reactor set");
    Many const* m = many();
    return m ? m->slots()[index] : one();
  }
  Iterator begin() const noexcept { return Iterator(this, 0); }
  Iterator end() const noexcept { return Iterator(this, size()); }

  R* find(K const& key) const {
    if (Many const* m = many()) {
      R* const* const it = lowerBound(*m, key);
      return it != m->end() && KeyOf()(**it) == key ? *it : nullptr;
    }
    R* r = one();
    return r && KeyOf()(*r) == key ? r : nullptr;
  }
  bool contains(K const& key) const { return find(key) != nullptr; }
  // The first reactor in key order (null when there is none).
  R* first() const { return empty() ? nullptr : at(0); }
  // A snapshot of the keys in order.
  std::vector<K> keys() const {
    std::vector<K> out;
    out.reserve(size());
    for (R* r : *this) out.push_back(KeyOf()(*r));
    return out;
  }

  // Makes room for `n` reactors in all (nothing below two): for a sweep of
  // known size.
  void reserve(std::size_t n) {
    if (n < 2 || n <= capacity()) return;
    regrow(n);
  }
  // Inserts `reactor` (not null), or replaces the reactor under its key; a
  // replaced reactor is released once the new one is in place.
  void set(Ptr<R> const& reactor) {
    assert(reactor && "a reactor set holds no null reactor");
    K const key = KeyOf()(*reactor);
    if (word_ == 0) {
      reactor->newRef();
      word_ = reinterpret_cast<std::uintptr_t>(reactor.ptr());
      return;
    }
    Many* m = many();
    R* const only = m ? nullptr : one();
    if (only && KeyOf()(*only) == key) {
      if (only == reactor.ptr()) return;
      reactor->newRef();
      word_ = reinterpret_cast<std::uintptr_t>(reactor.ptr());
      only->deleteRef();
      return;
    }
    R** at = nullptr;
    if (m) {
      // In-order inserts (a start-up sweep) go to the end without a search.
      at = m->size == 0 || KeyOf()(*m->end()[-1]) < key ? m->end() : lowerBound(*m, key);
      if (at != m->end() && KeyOf()(**at) == key) {
        if (*at == reactor.ptr()) return;
        reactor->newRef();
        R* const old = std::exchange(*at, reactor.ptr());
        old->deleteRef();
        return;
      }
    }
    if (!m || m->size == m->capacity) {
      std::size_t const index = m ? static_cast<std::size_t>(at - m->begin()) : 0;
      m = regrow(std::max<std::size_t>(2, 2 * size()));
      at = m->begin() + (only ? (key < KeyOf()(*only) ? 0 : 1) : index);
    }
    std::move_backward(at, m->end(), m->end() + 1);
    reactor->newRef();
    *at = reactor.ptr();
    ++m->size;
  }
  // Removes the reactor under `key`; returns it (null when absent).
  Ptr<R> take(K const& key) {
    R* out = nullptr;
    if (Many* m = many()) {
      R** const it = lowerBound(*m, key);
      if (it == m->end() || !(KeyOf()(**it) == key)) return nullptr;
      out = *it;
      std::move(it + 1, m->end(), it);
      if (--m->size <= 1) {
        // Back to the word alone: the last reactor's reference moves there.
        word_ = m->size == 1 ? reinterpret_cast<std::uintptr_t>(m->slots()[0]) : 0;
        Many::destroy(m);
      }
    } else {
      out = one();
      if (!out || !(KeyOf()(*out) == key)) return nullptr;
      word_ = 0;
    }
    Ptr<R> taken(out);  // the set's reference goes to the caller
    out->deleteRef();
    return taken;
  }
  // Empties the set, then releases every reactor in key order.
  void clear() noexcept {
    std::uintptr_t const word = std::exchange(word_, 0);
    if (word & kManyTag) {
      Many* m = reinterpret_cast<Many*>(word & ~kManyTag);
      for (R* r : *m) r->deleteRef();
      Many::destroy(m);
    } else if (word != 0) {
      reinterpret_cast<R*>(word)->deleteRef();
    }
  }

  // Calls f(Ptr<R> const&) for each reactor in key order (see above).
  template <class F>
  void walk(F&& f) const {
    std::size_t index = 0;
    while (index < size()) {
      R* const r = at(index);
      Ptr<R> const keep(r);
      K const key = KeyOf()(*r);
      f(keep);
      // Still in its slot (held, so not another reactor at the same address):
      // the next slot holds its successor. Otherwise the walk goes by key.
      if (index < size() && at(index) == r) {
        ++index;
      } else {
        index = upperIndex(key);
      }
    }
  }

 private:
  static constexpr std::uintptr_t kManyTag = 1;

  // Two or more reactors: one block, this header then `capacity` slots.
  struct Many {
    std::uint32_t size;
    std::uint32_t capacity;
    R** slots() noexcept { return reinterpret_cast<R**>(this + 1); }
    R* const* slots() const noexcept { return reinterpret_cast<R* const*>(this + 1); }
    R** begin() noexcept { return slots(); }
    R** end() noexcept { return slots() + size; }
    R* const* begin() const noexcept { return slots(); }
    R* const* end() const noexcept { return slots() + size; }
    static Many* create(std::size_t capacity) {
      assert(capacity <= UINT32_MAX && "reactor set too large");
      void* block = ::operator new(sizeof(Many) + capacity * sizeof(R*));
      return new (block) Many{0, static_cast<std::uint32_t>(capacity)};
    }
    static void destroy(Many* m) noexcept { ::operator delete(static_cast<void*>(m)); }
  };
  static_assert(sizeof(Many) % alignof(R*) == 0, "the slots follow the header");

  Many* many() const noexcept {
    return (word_ & kManyTag) ? reinterpret_cast<Many*>(word_ & ~kManyTag) : nullptr;
  }
  R* one() const noexcept { return (word_ & kManyTag) ? nullptr : reinterpret_cast<R*>(word_); }
  std::size_t capacity() const noexcept {
    Many const* m = many();
    return m ? m->capacity : 1;
  }
  // Moves the reactors (with their references) into a block of `capacity`.
  Many* regrow(std::size_t capacity) {
    Many* const grown = Many::create(capacity);
    if (Many* const m = many()) {
      std::copy(m->begin(), m->end(), grown->begin());
      grown->size = m->size;
      Many::destroy(m);
    } else if (R* const r = one()) {
      grown->slots()[0] = r;
      grown->size = 1;
    }
    word_ = reinterpret_cast<std::uintptr_t>(grown) | kManyTag;
    return grown;
  }
  // The index of the first reactor with a key above `key` (size() if none).
  std::size_t upperIndex(K const& key) const {
    if (Many const* m = many()) {
      R* const* const it =
          std::upper_bound(m->begin(), m->end(), key, [](K const& k, R const* r) { return k < KeyOf()(*r); });
      return static_cast<std::size_t>(it - m->begin());
    }
    R* r = one();
    return r && !(key < KeyOf()(*r)) ? 1 : 0;
  }
  template <class M>
  static auto lowerBound(M& m, K const& key) {
    return std::lower_bound(m.begin(), m.end(), key, [](R const* r, K const& k) { return KeyOf()(*r) < k; });
  }

  // 0, the one reactor's R* (holding a reference), or Many* | kManyTag.
  std::uintptr_t word_ = 0;
};

}  // namespace Vorn
