#include "Pim/join/VornUnderlayRoute.h"

#include <algorithm>
#include <iterator>
#include <cassert>

namespace Irb::Multicast::Egress {

using Routing::Multicast::UnderlayRoute;

VornUnderlayRoute::Handle const* VornUnderlayRoute::find(UnderlayRoute const& r) const {
  if (empty()) return nullptr;
  if (first_.first == r) return &first_.second;
  if (!rest_) return nullptr;
  auto const it = std::lower_bound(rest_->begin(), rest_->end(), r,
                                   [](value_type const& e, UnderlayRoute const& k) { return e.first < k; });
  return it != rest_->end() && it->first == r ? &it->second : nullptr;
}

std::vector<UnderlayRoute> VornUnderlayRoute::keys() const {
  std::vector<UnderlayRoute> out;
  out.reserve(size());
  for (auto const& e : *this) out.push_back(e.first);
  return out;
}

bool VornUnderlayRoute::set(UnderlayRoute const& r, Handle handle) {
  assert(handle && "a route's handle is never null");
  if (empty()) {
    first_ = value_type(r, std::move(handle));
    return true;
  }
  value_type* at = nullptr;
  if (first_.first == r) {
    at = &first_;
  } else if (r < first_.first) {
    // The new element becomes the first; the old first moves to the front of the rest.
    rest().insert(rest().begin(), std::move(first_));
    first_ = value_type(r, std::move(handle));
    return true;
  } else {
    Rest& rest = this->rest();
    auto const it = std::lower_bound(rest.begin(), rest.end(), r,
                                     [](value_type const& e, UnderlayRoute const& k) { return e.first < k; });
    if (it == rest.end() || !(it->first == r)) {
      rest.insert(it, value_type(r, std::move(handle)));
      return true;
    }
    at = &*it;
  }
  if (at->second == handle) return false;
  [[maybe_unused]] Handle const old = std::exchange(at->second, std::move(handle));
  return true;  // `old` goes now, with the collection consistent
}

VornUnderlayRoute::Handle VornUnderlayRoute::take(UnderlayRoute const& r) {
  if (empty()) return nullptr;
  Handle out;
  if (first_.first == r) {
    out = std::move(first_.second);
    if (restSize() == 0) {
      first_ = value_type();
      rest_.reset();
      return out;
    }
    first_ = std::move(rest_->front());
    rest_->erase(rest_->begin());
  } else {
    if (!rest_) return nullptr;
    auto const it = std::lower_bound(rest_->begin(), rest_->end(), r,
                                     [](value_type const& e, UnderlayRoute const& k) { return e.first < k; });
    if (it == rest_->end() || !(it->first == r)) return nullptr;
    out = std::move(it->second);
    rest_->erase(it);
  }
  if (rest_->empty()) rest_.reset();  // back to no heap block
  return out;
}

}  // namespace Irb::Multicast::Egress
