// Small helpers shared by the state model entities: building an entity with
// notification already on, and a keyed lookup that answers null when absent.
#pragma once

#include <utility>

#include "Vorn/Ptr.h"

namespace Model {

template <class T, class... A>
Vorn::Ptr<T> makeActive(A&&... args) {
  Vorn::Ptr<T> p(new T(std::forward<A>(args)...));
  p->hasNotificationActiveIs(true);
  return p;
}

template <class V, class M, class K>
Vorn::Ptr<V> lookup(M const& coll, K const& key) {
  auto const* v = coll.find(key);
  return v ? Vorn::Ptr<V>(*v) : Vorn::Ptr<V>();
}

}  // namespace Model
