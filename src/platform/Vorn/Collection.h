// Vorn keyed collections — ordered maps and sets whose iteration survives
// mutation.
//
// OVERVIEW
//   KeyedMap<K, V> and KeyedSet<K> keep their elements sorted by key, so every
//   walk is deterministic (traces and outputs reproduce run to run). An
//   iteration can start at a given key (`lowerBound`). Deleting the current
//   element, or any other, while an iteration is in progress does not break
//   it: the iterator remembers its key and, when the collection has lost an
//   element since its last step, resumes after that key.
//
//   HashedKeyedMap<K, V> is a KeyedMap that also keeps a hash index of its
//   elements (std::hash<K>), so `find`, `contains`, `set` and `take` of an
//   existing key cost one hash probe instead of a tree search: for large
//   collections looked up on every event. Iteration is the same, sorted.
//
//   Their nodes come from Vorn::Pool.
//
//   These are plain containers: they do not notify. An entity wraps them and
//   calls its own `notify` after every effective change (see model/).
//
// WARNING
//   An element reached through an iterator is valid until that element is
//   removed; copy what you need before calling code that may remove it.
//
// TYPICAL USAGE
//   for (auto const& [vlan, join] : status.vlanColl()) handle(vlan, join);
//   for (auto it = set.lowerBound(bookmark); it != set.end(); ++it) ...
#pragma once

#include <cassert>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <type_traits>
#include <utility>
#include <vector>

#include "Vorn/FlatHashIndex.h"
#include "Vorn/Pool.h"

namespace Vorn {

namespace detail {

// An iterator over a sorted std container that resumes by key after removals.
template <class Container, class KeyOf>
class StableIterator {
 public:
  using Underlying = typename Container::const_iterator;
  using value_type = typename Container::value_type;
  using Key = std::remove_cvref_t<decltype(KeyOf()(std::declval<value_type const&>()))>;

  StableIterator() = default;
  StableIterator(Container const* c, std::uint64_t const* removals, Underlying it)
      : c_(c), removals_(removals), seen_(*removals), synced_(*removals), it_(it) {
    if (it_ != c_->end()) key_ = KeyOf()(*it_);
  }

  // After the current element was removed this is the element that follows
  // it (which the walk still visits next).
  value_type const& operator*() const {
    resync();
    assert(it_ != c_->end() && "dereferencing a walk whose element and all after it were removed");
    return *it_;
  }
  value_type const* operator->() const { return &**this; }

  StableIterator& operator++() {
    if (*removals_ != seen_) {
      // Something was removed since the last step, maybe the current element:
      // continue after its key (a read in between may have moved it_).
      seen_ = synced_ = *removals_;
      // A walk that drains the collection removes its smallest element: the
      // new first element is then the successor, found without a search.
      auto const first = c_->begin();
      it_ = first != c_->end() && c_->key_comp()(*key_, KeyOf()(*first)) ? first : c_->upper_bound(*key_);
    } else {
      ++it_;
    }
    if (it_ != c_->end()) {
      key_ = KeyOf()(*it_);
    } else {
      key_.reset();
    }
    return *this;
  }

  bool atEnd() const { return !key_.has_value(); }
  bool operator==(StableIterator const& o) const { return atEnd() == o.atEnd() && (atEnd() || *key_ == *o.key_); }
  // Comparison with the end sentinel.
  bool operator==(std::nullptr_t) const { return atEnd(); }

 private:
  // Re-finds the element for a read after a removal. The step still goes by
  // key (seen_ is left alone): if the current element went, it_ now sits on
  // the next one, and a plain ++it_ would skip it.
  void resync() const {
    if (*removals_ != synced_) {
      synced_ = *removals_;
      it_ = c_->lower_bound(*key_);
    }
  }
  Container const* c_ = nullptr;
  std::uint64_t const* removals_ = nullptr;
  std::uint64_t seen_ = 0;            // removals at the last step
  mutable std::uint64_t synced_ = 0;  // removals at the last re-find of it_
  mutable Underlying it_{};
  std::optional<Key> key_;
};

struct FirstOfPair {
  template <class P>
  auto const& operator()(P const& p) const {
    return p.first;
  }
};
struct Identity {
  template <class T>
  T const& operator()(T const& t) const {
    return t;
  }
};

// The hash index of a HashedKeyedMap: the map's own nodes, found by key in a
// flat open-addressing table (one probe in contiguous memory, then the node).
template <class K, class MapIt>
struct NodeIndex {
  struct KeyOf {
    K const& operator()(MapIt it) const noexcept { return it->first; }
  };
  FlatHashIndex<K, MapIt, KeyOf> nodes;
};

struct NoIndex {};

}  // namespace detail

template <class K, class V, bool kHashed = false>
class KeyedMap {
  using Map = std::map<K, V, std::less<>, PoolAllocator<std::pair<K const, V>>>;
  using MapIt = typename Map::iterator;

 public:
  using Iterator = detail::StableIterator<Map, detail::FirstOfPair>;
  using value_type = typename Map::value_type;

  KeyedMap() = default;
  // A copy indexes its own nodes (a moved map keeps its nodes, so moving needs nothing).
  KeyedMap(KeyedMap const& o) : m_(o.m_) { reindex(); }
  KeyedMap& operator=(KeyedMap const& o) {
    if (this != &o) {
      KeyedMap copy(o);
      *this = std::move(copy);
    }
    return *this;
  }
  KeyedMap(KeyedMap&&) noexcept = default;
  KeyedMap& operator=(KeyedMap&&) noexcept = default;
  ~KeyedMap() = default;

  V const* find(K const& k) const {
    auto it = lookup(k);
    return it == m_.end() ? nullptr : &it->second;
  }
  V* find(K const& k) {
    auto it = lookup(k);
    return it == m_.end() ? nullptr : &it->second;
  }
  bool contains(K const& k) const { return lookup(k) != m_.end(); }
  std::size_t size() const noexcept { return m_.size(); }
  bool empty() const noexcept { return m_.empty(); }

  // Inserts or replaces. Returns true when the collection changed: a new key,
  // or a value under an existing key that differs (by ==) from the old one.
  // The replaced value is released after the new one is in place.
  template <class VV>
  bool set(K const& k, VV&& v) {
    if constexpr (kHashed) {
      std::uint64_t const tag = decltype(index_.nodes)::tagOf(k);
      if (MapIt const* found = index_.nodes.find(k, tag)) return replace(*found, std::forward<VV>(v));
      MapIt const it = m_.emplace_hint(appendHint(k), k, std::forward<VV>(v));
      try {
        index_.nodes.insert(it, tag);
      } catch (...) {
        m_.erase(it);
        throw;
      }
    } else {
      // Keys arriving in order (a collection filled from a sorted one) go at
      // the end without a search; otherwise one search serves both outcomes.
      MapIt at = appendHint(k);
      if (at != m_.end()) {
        at = m_.lower_bound(k);
        if (at != m_.end() && !m_.key_comp()(k, at->first)) return replace(at, std::forward<VV>(v));
      }
      m_.emplace_hint(at, k, std::forward<VV>(v));
    }
    return true;
  }
  // Removes the key; returns the removed value, or nothing.
  std::optional<V> take(K const& k) {
    auto it = lookup(k);
    if (it == m_.end()) return std::nullopt;
    if constexpr (kHashed) index_.nodes.erase(k);
    std::optional<V> v(std::move(it->second));
    m_.erase(it);
    ++removals_;
    return v;
  }
  bool erase(K const& k) { return take(k).has_value(); }

  // Makes room in the hash index for `n` elements (nothing for a plain map):
  // for a bulk fill of known size.
  void reserve(std::size_t n) {
    if constexpr (kHashed) index_.nodes.reserve(n);
  }

  Iterator begin() const { return Iterator(&m_, &removals_, m_.begin()); }
  Iterator end() const { return Iterator(&m_, &removals_, m_.end()); }
  Iterator lowerBound(K const& k) const { return Iterator(&m_, &removals_, m_.lower_bound(k)); }
  Iterator upperBound(K const& k) const { return Iterator(&m_, &removals_, m_.upper_bound(k)); }

  K const* firstKey() const { return m_.empty() ? nullptr : &m_.begin()->first; }

  // A snapshot of the keys in sorted order, for loops that change the
  // collection as they go.
  std::vector<K> keys() const {
    std::vector<K> out;
    out.reserve(m_.size());
    for (auto const& entry : m_) out.push_back(entry.first);
    return out;
  }

  // The plain sorted map, for read-only walks on hot paths whose body changes
  // no collection (a query): no key is copied per step.
  Map const& raw() const noexcept { return m_; }

 private:
  // end() when `k` sorts after every key, else the first element (no hint).
  MapIt appendHint(K const& k) {
    if (m_.empty() || m_.key_comp()(std::prev(m_.end())->first, k)) return m_.end();
    return m_.begin();
  }
  template <class VV>
  bool replace(MapIt it, VV&& v) {
    if (it->second == v) return false;
    [[maybe_unused]] V old = std::exchange(it->second, std::forward<VV>(v));
    return true;
  }
  void reindex() {
    if constexpr (kHashed) {
      index_.nodes.clear();
      for (auto it = m_.begin(); it != m_.end(); ++it) index_.nodes.insert(it);
    }
  }
  MapIt lookup(K const& k) const {
    auto& m = const_cast<Map&>(m_);  // the index holds mutable iterators of our own map
    if constexpr (kHashed) {
      MapIt const* found = index_.nodes.find(k);
      return found ? *found : m.end();
    } else {
      return m.find(k);
    }
  }

  Map m_;
  std::uint64_t removals_ = 0;
  [[no_unique_address]] std::conditional_t<kHashed, detail::NodeIndex<K, MapIt>, detail::NoIndex> index_;
};

template <class K, class V>
using HashedKeyedMap = KeyedMap<K, V, true>;

template <class K>
class KeyedSet {
  using Set = std::set<K, std::less<>, PoolAllocator<K>>;

 public:
  using Iterator = detail::StableIterator<Set, detail::Identity>;
  using value_type = K;

  KeyedSet() = default;
  // Copies and moves start without a previous insert position.
  KeyedSet(KeyedSet const& o) : s_(o.s_) {}
  KeyedSet(KeyedSet&& o) noexcept : s_(std::move(o.s_)) { o.lastRemovals_ = ~std::uint64_t{0}; }
  KeyedSet& operator=(KeyedSet const& o) {
    if (this != &o) {
      s_ = o.s_;
      ++removals_;  // walks in progress resume by key; the insert position is gone
    }
    return *this;
  }
  KeyedSet& operator=(KeyedSet&& o) noexcept {
    if (this != &o) {
      s_ = std::move(o.s_);
      ++removals_;
      o.lastRemovals_ = ~std::uint64_t{0};
    }
    return *this;
  }
  ~KeyedSet() = default;

  bool contains(K const& k) const { return s_.find(k) != s_.end(); }
  std::size_t size() const noexcept { return s_.size(); }
  bool empty() const noexcept { return s_.empty(); }

  // Returns true when the key was added. Keys arriving in ascending runs (a
  // set filled from sorted collections, even one that already holds some of
  // them) are placed from the previous insert's position without a search.
  bool insert(K const& k) {
    auto const less = s_.key_comp();
    if (lastValid() && less(*last_, k)) {
      auto const next = std::next(last_);
      if (next == s_.end() || less(k, *next)) {
        last_ = s_.emplace_hint(next, k);
        return true;
      }
      if (!less(*next, k)) {  // already there
        last_ = next;
        return false;
      }
    }
    auto const [it, inserted] = s_.insert(k);
    last_ = it;
    lastRemovals_ = removals_;
    return inserted;
  }
  // Returns true when the key was present. Removing the smallest key (a set
  // drained in order) needs no search.
  bool erase(K const& k) {
    if (!s_.empty() && !s_.key_comp()(*s_.begin(), k) && !s_.key_comp()(k, *s_.begin())) {
      s_.erase(s_.begin());
    } else if (s_.erase(k) == 0) {
      return false;
    }
    ++removals_;
    return true;
  }

  K const* firstKey() const { return s_.empty() ? nullptr : &*s_.begin(); }

  // A snapshot of the members in sorted order.
  std::vector<K> keys() const { return std::vector<K>(s_.begin(), s_.end()); }

  // The plain sorted set, for read-only walks that change no collection.
  Set const& raw() const noexcept { return s_; }

  Iterator begin() const { return Iterator(&s_, &removals_, s_.begin()); }
  Iterator end() const { return Iterator(&s_, &removals_, s_.end()); }
  Iterator lowerBound(K const& k) const { return Iterator(&s_, &removals_, s_.lower_bound(k)); }
  Iterator upperBound(K const& k) const { return Iterator(&s_, &removals_, s_.upper_bound(k)); }

 private:
  // The previous insert's position stays valid until a removal.
  bool lastValid() const noexcept { return lastRemovals_ == removals_ && last_ != s_.end(); }

  Set s_;
  std::uint64_t removals_ = 0;
  typename Set::iterator last_ = s_.end();
  std::uint64_t lastRemovals_ = ~std::uint64_t{0};
};

}  // namespace Vorn
