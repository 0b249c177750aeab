// Vorn notifiees — reactors that observe one entity.
//
// OVERVIEW
//   A reactor derives from PtrInterface::NotifieeConst (usually through the
//   typed NotifieeConstOf<T>): a counted object with no observers of its own.
//   It holds a counted reference to the entity it observes (its notifier, a
//   Vorn::NotifierBase). `notifierIs` re-points it, `isRegisteredNotifieeIs
//   (true)` puts it on the notifier's list, `hasNotificationActiveIs` switches
//   delivery. Every effective change of the notifier calls
//   `onAttribute(attribute, key)` synchronously, before the mutator returns.
//
//   The zombie mark: `vornDoZombieReactors(true)` marks a reactor for deletion
//   (it receives nothing while marked; subclasses run their final pass there). The
//   destructor of a reactor class that has a final pass calls
//   vornDoZombieReactors(true) itself, so an unmarked reactor still runs it.
//
// GUARANTEES
//   - Registration is owned by the reactor: a reactor that goes away leaves
//     the list; an entity that goes first leaves no dangling pointer (the
//     reactor holds it alive).
//   - Delivery survives a reactor that detaches itself or another reactor,
//     registers a new one (which does not see the change being delivered), or
//     drops the last reference to the entity or to itself, mid-delivery.
//     Deliveries nest (a handler may change the entity again).
//   - The order and nesting of deliveries are the notifier's: see
//     Vorn/NotifierBase.h.
//
// WARNING
//   Single event thread: delivery and registration are not synchronised.
//
// TYPICAL USAGE
//   class VornVlan : public Vorn::NotifieeConstOf<VlanMembershipJoin> {
//     void onAttribute(Vorn::AttributeId a, Vorn::Key const& k) override { ... }
//   };
//   r->notifierIs(join); r->isRegisteredNotifieeIs(true); r->hasNotificationActiveIs(true);
#pragma once

#include <type_traits>

#include "Vorn/Key.h"
#include "Vorn/NotifierBase.h"
#include "Vorn/Ptr.h"

namespace Vorn {

class PtrInterface::NotifieeConst : public PtrInterface {
 public:
  NotifieeConst() noexcept = default;
  NotifieeConst(NotifieeConst const&) = delete;
  ~NotifieeConst() override;

  NotifierBase const* notifierBase() const noexcept { return notifier_.ptr(); }

  // Puts the reactor on its notifier's list (now and after every re-point),
  // or takes it off.
  void isRegisteredNotifieeIs(bool registered);
  bool isRegisteredNotifiee() const noexcept { return registered_; }

  // The zombie mark: set once the reactor is marked for deletion.
  bool isZombie() const noexcept { return zombie_; }

  // Called for every change of the notifier while registered and active.
  virtual void onAttribute(AttributeId attribute, Key const& key);

  // Marks or unmarks the reactor for deletion. Default: when the mark changes,
  // switch delivery to the opposite of `zombie` (if there is a notifier) and
  // record the mark. Subclasses add their final pass.
  virtual void vornDoZombieReactors(bool zombie);

  char const* fwkType() const override { return "Vorn::NotifieeConst"; }

 protected:
  // Re-points the reactor, keeping its registration state. Runs no handler.
  void notifierBaseIs(Ptr<NotifierBase const> const& notifier);
  void zombieIs(bool zombie) noexcept { zombie_ = zombie; }

 private:
  void attach();
  void detach();

  // The flags first: they fit in PtrInterface's spare bytes.
  bool registered_ = false;
  bool zombie_ = false;
  bool onList_ = false;
  Ptr<NotifierBase const> notifier_;
};

static_assert(sizeof(void*) != 8 || sizeof(PtrInterface::NotifieeConst) == sizeof(PtrInterface) + sizeof(void*),
              "a reactor is its count and its notifier");

using NotifieeConst = PtrInterface::NotifieeConst;

// A notifiee with a typed notifier.
template <class T>
class NotifieeConstOf : public PtrInterface::NotifieeConst {
 public:
  using Notifier = T;

  Ptr<T const> notifier() const noexcept {
    return Ptr<T const>(static_cast<T const*>(notifierBase()));
  }
  T const* notifierRaw() const noexcept { return static_cast<T const*>(notifierBase()); }

  // Re-points the reactor to another entity (null detaches). Subclasses that
  // must react to a re-point override this and call the base.
  virtual void notifierIs(Ptr<T const> const& notifier) {
    static_assert(std::is_base_of_v<NotifierBase, T>, "a reactor observes a Vorn::NotifierBase");
    notifierBaseIs(Ptr<NotifierBase const>(notifier));
  }
};

}  // namespace Vorn
