// Vorn::Entity — a state entity with an optional parent.
//
// Entities are counted objects (Vorn::NotifierBase) that publish state
// through attributes and notify their observers of every effective change.
// `parentIs` records the entity that contains this one (not counted: the
// parent owns the child, never the reverse); `parentIs(nullptr)` detaches it.
//
// The protected helpers change a keyed collection attribute and notify the
// observers with the attribute and the key, only when the change is effective
// (a new key, another value, a removed key). Observers run after the change,
// so a lookup from a handler sees the new state.
//
//   status->parentIs(container.ptr());   status->parentIs(nullptr);
#pragma once

#include "Vorn/Collection.h"
#include "Vorn/Key.h"
#include "Vorn/NotifierBase.h"
#include "Vorn/Ptr.h"

namespace Vorn {

class Entity : public NotifierBase {
 public:
  Entity* parent() const noexcept { return parent_; }
  void parentIs(Entity* parent) noexcept { parent_ = parent; }
  char const* fwkType() const override { return "Vorn::Entity"; }

 protected:
  template <class K, class V, bool H, class VV>
  bool setIn(KeyedMap<K, V, H>& coll, AttributeId attribute, K const& key, VV&& value) {
    if (!coll.set(key, std::forward<VV>(value))) return false;
    notify(attribute, Key(key));
    return true;
  }
  template <class K, class V, bool H>
  V takeFrom(KeyedMap<K, V, H>& coll, AttributeId attribute, K const& key) {
    K const copy = key;  // the caller's key may live in the removed element
    std::optional<V> v = coll.take(copy);
    if (!v) return V();
    notify(attribute, Key(copy));
    return std::move(*v);
  }
  template <class K>
  bool insertIn(KeyedSet<K>& coll, AttributeId attribute, K const& key) {
    if (!coll.insert(key)) return false;
    notify(attribute, Key(key));
    return true;
  }
  template <class K>
  bool eraseFrom(KeyedSet<K>& coll, AttributeId attribute, K const& key) {
    K const copy = key;
    if (!coll.erase(copy)) return false;
    notify(attribute, Key(copy));
    return true;
  }
  template <class K>
  void eraseAllFrom(KeyedSet<K>& coll, AttributeId attribute) {
    while (K const* first = coll.firstKey()) {
      K const k = *first;
      eraseFrom(coll, attribute, k);
    }
  }
  // Removes every element one by one, each removal notified on its own.
  template <class K, class V, bool H>
  void takeAllFrom(KeyedMap<K, V, H>& coll, AttributeId attribute) {
    while (K const* first = coll.firstKey()) {
      K const k = *first;
      takeFrom(coll, attribute, k);
    }
  }

 private:
  Entity* parent_ = nullptr;
};

}  // namespace Vorn
