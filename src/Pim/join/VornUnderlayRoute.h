// VornUnderlayRoute — the Join handles a mapping reactor holds, by underlay
// route (both inject paths keep one per mapping reactor).
//
// By route, in route order, at most one per route and never a null one. Most
// mappings carry a single route: the first element is kept in the object
// itself, so a reactor holding one Join costs no heap block for it; further
// elements go to a vector, allocated only then (the collection takes seven
// words).
// Unlike the Vorn collections, an iteration does not survive a change: any
// change invalidates iterators and element references (copy first, or walk
// `keys()`).
//
//   VornUnderlayRoute c;  c.set(route, handle);  if (auto const* h = c.find(route)) ...;  c.take(route);
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "Brim/MembershipDedupTable.h"
#include "Vorn/Ptr.h"
#include "model/RoutingTypes.h"

namespace Irb::Multicast::Egress {

class VornUnderlayRoute {
 public:
  using Handle = Vorn::Ptr<Routing::Gmp::MembershipDeduped const>;
  using value_type = std::pair<Routing::Multicast::UnderlayRoute, Handle>;

  class Iterator {
   public:
    Iterator(VornUnderlayRoute const* c, std::size_t i) noexcept : c_(c), i_(i) {}
    value_type const& operator*() const noexcept { return c_->at(i_); }
    value_type const* operator->() const noexcept { return &c_->at(i_); }
    Iterator& operator++() noexcept {
      ++i_;
      return *this;
    }
    bool operator==(Iterator const& o) const noexcept { return i_ == o.i_; }

   private:
    VornUnderlayRoute const* c_;
    std::size_t i_;
  };

  std::size_t size() const noexcept { return first_.second ? 1 + restSize() : 0; }
  bool empty() const noexcept { return !first_.second; }
  Handle const* find(Routing::Multicast::UnderlayRoute const& r) const;
  bool contains(Routing::Multicast::UnderlayRoute const& r) const { return find(r) != nullptr; }
  Routing::Multicast::UnderlayRoute const* firstKey() const noexcept { return empty() ? nullptr : &first_.first; }
  std::vector<Routing::Multicast::UnderlayRoute> keys() const;

  // Inserts or replaces (`handle` must not be null). Returns true when the
  // collection changed; a replaced handle is released after the new one is
  // in place.
  bool set(Routing::Multicast::UnderlayRoute const& r, Handle handle);
  // Removes the route's element and hands its handle over (null if absent):
  // the caller releases it, after the collection is consistent again.
  Handle take(Routing::Multicast::UnderlayRoute const& r);

  Iterator begin() const noexcept { return Iterator(this, 0); }
  Iterator end() const noexcept { return Iterator(this, size()); }

 private:
  using Rest = std::vector<value_type>;
  value_type const& at(std::size_t i) const noexcept { return i == 0 ? first_ : (*rest_)[i - 1]; }
  std::size_t restSize() const noexcept { return rest_ ? rest_->size() : 0; }
  Rest& rest() {
    if (!rest_) rest_ = std::make_unique<Rest>();
    return *rest_;
  }

  value_type first_;            // the smallest element; a null handle: empty
  std::unique_ptr<Rest> rest_;  // the others, sorted; null when there are none
};

}  // namespace Irb::Multicast::Egress
