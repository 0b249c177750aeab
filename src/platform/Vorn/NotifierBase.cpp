#include "Vorn/NotifierBase.h"

#include <algorithm>
#include <cassert>
#include <cstdint>

#include "Vorn/Notifiee.h"

namespace Vorn {

namespace {

using Reactor = PtrInterface::NotifieeConst;

// One observer's share of a delivery: skipped when it is a hole, switched off
// or marked for deletion; held alive while its handler runs (the handler may
// drop the last reference to it).
void deliverTo(Reactor* r, AttributeId attribute, Key const& key) {
  // A reactor marked for deletion never receives, even one that was marked
  // before it had a notifier (its activity was then left as it was).
  if (!r || !r->hasNotificationActive() || r->isZombie()) return;
  Ptr<Reactor> keepAlive;
  if (r->references() > 0) keepAlive = r;
  r->onAttribute(attribute, key);
}

}  // namespace

// ---- NotifierBase ------------------------------------------------------------

NotifierBase::~NotifierBase() {
  assert(deliveries_ == 0 && "object destroyed during its own delivery");
  delete notifieeList();
}

std::size_t NotifierBase::notifieeCount() const noexcept {
  if (observers_ == 0) return 0;
  if (NotifieeList const* list = notifieeList()) return list->size();
  return 1;
}

void NotifierBase::notify(AttributeId attribute, Key const& key) const {
  if (!hasNotificationActive() || observers_ == 0) return;
  // Keep this object alive while its observers run: one of them may drop the
  // last outside reference.
  Ptr<PtrInterface const> keepAlive;
  if (references() > 0) keepAlive = this;
  assert(deliveries_ < UINT16_MAX && "deliveries nested too deep");
  ++deliveries_;
  if (NotifieeList* list = notifieeList()) {
    // The list stays put until the outermost delivery is over.
    list->deliver(attribute, key);
  } else {
    // One observer, read once: whatever its handler registers or removes
    // takes effect from the next change on.
    deliverTo(reinterpret_cast<NotifieeConst*>(observers_), attribute, key);
  }
  if (--deliveries_ == 0) observersTidy();
}

void NotifierBase::observerAdd(NotifieeConst* n) const {
  auto const word = reinterpret_cast<std::uintptr_t>(n);
  assert((word & kListTag) == 0 && "a notifiee must be at least 2-aligned");
  if (observers_ == 0) {
    observers_ = word;
    return;
  }
  NotifieeList* list = notifieeList();
  if (!list) {
    // A second observer: move the first one onto a list. A delivery running
    // to the first one is not disturbed; the newcomer sees later changes.
    list = new NotifieeList;
    list->add(reinterpret_cast<NotifieeConst*>(observers_));
    observers_ = reinterpret_cast<std::uintptr_t>(list) | kListTag;
  }
  list->add(n);
}

void NotifierBase::observerDel(NotifieeConst* n) const {
  NotifieeList* list = notifieeList();
  if (!list) {
    assert(observers_ == reinterpret_cast<std::uintptr_t>(n) && "removing a notifiee that is not registered");
    if (observers_ == reinterpret_cast<std::uintptr_t>(n)) observers_ = 0;
    return;
  }
  list->remove(n, deliveries_ > 0);
  if (deliveries_ == 0) observersTidy();
}

void NotifierBase::observersTidy() const noexcept {
  NotifieeList* list = notifieeList();
  if (!list) return;
  if (list->size() >= 2) {
    list->compact();
    return;
  }
  observers_ = reinterpret_cast<std::uintptr_t>(list->first());  // 0 when none is left
  delete list;
}

// ---- NotifieeList --------------------------------------------------------------

void NotifieeList::add(PtrInterface::NotifieeConst* n) {
  list_.push_back(n);
  ++live_;
}

void NotifieeList::remove(PtrInterface::NotifieeConst* n, bool delivering) {
  auto it = std::find(list_.begin(), list_.end(), n);
  assert(it != list_.end() && "removing a notifiee that is not registered");
  if (it == list_.end()) return;
  --live_;
  if (delivering) {
    *it = nullptr;  // compacted after the outermost delivery
    holes_ = true;
  } else {
    list_.erase(it);
  }
}

void NotifieeList::deliver(AttributeId attribute, Key const& key) {
  // Observers added during this delivery are not told of this change. The
  // vector may grow meanwhile: index it afresh each time.
  std::size_t const n = list_.size();
  for (std::size_t i = 0; i < n; ++i) deliverTo(list_[i], attribute, key);
}

void NotifieeList::compact() {
  if (!holes_) return;
  list_.erase(std::remove(list_.begin(), list_.end(), nullptr), list_.end());
  holes_ = false;
}

PtrInterface::NotifieeConst* NotifieeList::first() const noexcept {
  for (auto* n : list_) {
    if (n) return n;
  }
  return nullptr;
}

}  // namespace Vorn
