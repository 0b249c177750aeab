// Vorn reactor ownership — how an owner brings a reactor in and lets it go,
// written once for every owner.
//
// OVERVIEW
//   A state machine owns its reactors through counted pointers, usually in a
//   keyed collection, and each reactor points back to its owner by a plain
//   pointer (`ownerIs`). Two moves recur everywhere:
//   - create-or-repoint (`reactorIs`): the reactor already kept for a key is
//     re-pointed to the new notifier (nothing when it observes it already);
//     otherwise a new one is made for (notifier, owner), switched on and
//     handed to the owner's insert step;
//   - let go (`letGo`): out of the collection, its final (zombie) pass, back
//     pointer cleared, delivery off; the owner gets what it observed.
//   `letGoAll` lets every reactor of a collection go, one by one, in order.
//
// A Reactor is a NotifieeConstOf<N> (it has `Notifier`, `notifier()`,
// `notifierRaw()`, `notifierIs`) with `ownerIs(Owner*)`,
// `vornDoZombieReactors(bool)` and `hasNotificationActiveIs(bool)`.
//
// WARNING
//   The final pass runs handlers while the back pointer is still set: they
//   may call into the owner, which must be consistent (the reactor already
//   out of its collection).
//
// TYPICAL USAGE
//   reactorIs(find(key), entry, this, [&](Vorn::Ptr<R> const& r) { coll.set(key, r); });
//   return letGo(coll, key);                  // what the reactor observed
//   letGo(std::exchange(inputReactor_, nullptr));
#pragma once

#include <optional>
#include <utility>

#include "Vorn/Collection.h"
#include "Vorn/Ptr.h"
#include "Vorn/SortedReactorSet.h"

namespace Vorn {

// The reactor kept for `notifier`'s key is `existing` (null: none yet):
// re-points it, or makes, switches on and inserts a new one. Returns it.
template <class Reactor, class Owner, class Insert>
Ptr<Reactor> reactorIs(Ptr<Reactor> existing, Ptr<typename Reactor::Notifier const> const& notifier, Owner* owner,
                       Insert&& insert) {
  if (existing) {
    if (existing->notifierRaw() != notifier.ptr()) existing->notifierIs(notifier);
    return existing;
  }
  Ptr<Reactor> const reactor = make<Reactor>(notifier, owner);
  reactor->hasNotificationActiveIs(true);
  std::forward<Insert>(insert)(reactor);
  return reactor;
}

// Lets a reactor the owner no longer keeps go: its final pass, back pointer
// cleared, delivery off. Returns what it observed (null for a null reactor).
template <class Reactor>
Ptr<typename Reactor::Notifier const> letGo(Ptr<Reactor> const& reactor) {
  if (!reactor) return nullptr;
  reactor->vornDoZombieReactors(true);
  reactor->ownerIs(nullptr);
  reactor->hasNotificationActiveIs(false);
  return reactor->notifier();
}

template <class Reactor, class K, bool Hashed>
Ptr<typename Reactor::Notifier const> letGo(KeyedMap<K, Ptr<Reactor>, Hashed>& coll, K const key) {
  std::optional<Ptr<Reactor>> taken = coll.take(key);
  return taken ? letGo(Ptr<Reactor>(std::move(*taken))) : nullptr;
}

template <class Reactor, class K, class KeyOf>
Ptr<typename Reactor::Notifier const> letGo(SortedReactorSet<Reactor, K, KeyOf>& coll, K const key) {
  return letGo(Ptr<Reactor>(coll.take(key)));
}

// Calls `del(key)` for every key of `coll`, first to last, until it is empty
// (`del` removes the key's element).
template <class V, class K, bool Hashed, class Del>
void letGoAll(KeyedMap<K, V, Hashed>& coll, Del del) {
  while (K const* first = coll.firstKey()) {
    K const key = *first;
    del(key);
  }
}

template <class Reactor, class K, class KeyOf, class Del>
void letGoAll(SortedReactorSet<Reactor, K, KeyOf>& coll, Del del) {
  while (Reactor const* first = coll.first()) {
    K const key = KeyOf()(*first);
    del(key);
  }
}

}  // namespace Vorn
