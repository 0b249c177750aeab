#include "Vorn/Notifiee.h"

#include <algorithm>

namespace Vorn {

// ---- PtrInterface ------------------------------------------------------------

PtrInterface::~PtrInterface() {
  assert((refs_ == 0 || refs_ >= kBeingDestroyed) &&
         "destroying an object that is still referenced");
  if (notifiees_) {
    assert(!notifiees_->delivering() && "object destroyed during its own delivery");
    delete notifiees_;
  }
}

void PtrInterface::zeroReferencesIs() const { delete this; }

void PtrInterface::notify(AttributeId attribute, Key const& key) const {
  if (!notificationActive_ || !notifiees_ || notifiees_->empty()) return;
  // Keep this object alive while its observers run: one of them may drop the
  // last outside reference.
  Ptr<PtrInterface const> keepAlive;
  if (references() > 0) keepAlive = this;
  notifiees_->deliver(attribute, key);
}

// ---- NotifieeList --------------------------------------------------------------

void NotifieeList::add(PtrInterface::NotifieeConst* n) {
  list_.push_back(n);
  ++live_;
}

void NotifieeList::remove(PtrInterface::NotifieeConst* n) {
  auto it = std::find(list_.begin(), list_.end(), n);
  assert(it != list_.end() && "removing a notifiee that is not registered");
  if (it == list_.end()) return;
  --live_;
  if (depth_ > 0) {
    *it = nullptr;  // compacted after the outermost delivery
    holes_ = true;
  } else {
    list_.erase(it);
  }
}

void NotifieeList::deliver(AttributeId attribute, Key const& key) {
  ++depth_;
  // Observers added during this delivery are not told of this change.
  std::size_t const n = list_.size();
  for (std::size_t i = 0; i < n; ++i) {
    PtrInterface::NotifieeConst* r = list_[i];
    // A reactor marked for deletion never receives, even one that was marked
    // before it had a notifier (its activity was then left as it was).
    if (!r || !r->hasNotificationActive() || r->isZombie()) continue;
    Ptr<PtrInterface::NotifieeConst> keepAlive;
    if (r->references() > 0) keepAlive = r;
    r->onAttribute(attribute, key);
  }
  if (--depth_ == 0 && holes_) compact();
}

void NotifieeList::compact() {
  list_.erase(std::remove(list_.begin(), list_.end(), nullptr), list_.end());
  holes_ = false;
}

// ---- NotifieeConst -------------------------------------------------------------

PtrInterface::NotifieeConst::~NotifieeConst() { detach(); }

void PtrInterface::NotifieeConst::onAttribute(AttributeId, Key const&) {}

void PtrInterface::NotifieeConst::vornDoZombieReactors(bool zombie) {
  if (zombie == zombie_) return;
  if (notifier_) hasNotificationActiveIs(!zombie);
  zombie_ = zombie;
}

void PtrInterface::NotifieeConst::isRegisteredNotifieeIs(bool registered) {
  if (registered == registered_) return;
  registered_ = registered;
  if (registered) {
    attach();
  } else {
    detach();
  }
}

void PtrInterface::NotifieeConst::notifierBaseIs(Ptr<PtrInterface const> const& notifier) {
  if (notifier == notifier_) return;
  detach();
  notifier_ = notifier;
  if (registered_) attach();
}

void PtrInterface::NotifieeConst::attach() {
  if (onList_ || !notifier_) return;
  PtrInterface const* n = notifier_.ptr();
  if (!n->notifiees_) n->notifiees_ = new NotifieeList;
  n->notifiees_->add(this);
  onList_ = true;
}

void PtrInterface::NotifieeConst::detach() {
  if (!onList_) return;
  onList_ = false;
  notifier_->notifiees_->remove(this);
}

}  // namespace Vorn
