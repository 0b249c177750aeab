#include "Vorn/Notifiee.h"

namespace Vorn {

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

void PtrInterface::NotifieeConst::notifierBaseIs(Ptr<NotifierBase const> const& notifier) {
  if (notifier == notifier_) return;
  detach();
  notifier_ = notifier;
  if (registered_) attach();
}

void PtrInterface::NotifieeConst::attach() {
  if (onList_ || !notifier_) return;
  notifier_->observerAdd(this);
  onList_ = true;
}

void PtrInterface::NotifieeConst::detach() {
  if (!onList_) return;
  onList_ = false;
  notifier_->observerDel(this);
}

}  // namespace Vorn
