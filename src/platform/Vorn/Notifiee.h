// Vorn notifiees — reactors that observe one entity.
//
// OVERVIEW
//   A reactor derives from PtrInterface::NotifieeConst (usually through the
//   typed NotifieeConstOf<T>). It holds a counted reference to the entity it
//   observes (its notifier). `notifierIs` re-points it, `isRegisteredNotifieeIs
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
//   - Observing costs no allocation while an entity has one observer; the
//     list for two or more is freed once it is no longer needed, so an entity
//     keeps nothing on the heap after its observers have gone.
//   - An entity must not be destroyed while one of its deliveries runs
//     (asserted); notify() holds it alive when it is owned through a Ptr.
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

#include <cstdint>
#include <vector>

#include "Vorn/Key.h"
#include "Vorn/Ptr.h"

namespace Vorn {

// The observers of an object that has two or more. The object owns it (see
// PtrInterface): it creates the list when a second observer registers and
// frees it once fewer than two are left and no delivery of the object runs.
// Removal during a delivery leaves a hole, compacted once the outermost
// delivery of the object returns.
class NotifieeList {
 public:
  void add(PtrInterface::NotifieeConst* n);
  // Takes `n` off. While `delivering`, its slot becomes a hole.
  void remove(PtrInterface::NotifieeConst* n, bool delivering);
  // Calls every live, active, unmarked observer present when it starts.
  void deliver(AttributeId attribute, Key const& key);
  void compact();
  bool empty() const noexcept { return live_ == 0; }
  std::size_t size() const noexcept { return live_; }
  // The first observer still on the list (null if none).
  PtrInterface::NotifieeConst* first() const noexcept;

 private:
  std::vector<PtrInterface::NotifieeConst*> list_;
  std::uint32_t live_ = 0;
  bool holes_ = false;
};

class PtrInterface::NotifieeConst : public PtrInterface {
 public:
  NotifieeConst() noexcept = default;
  NotifieeConst(NotifieeConst const&) = delete;
  ~NotifieeConst() override;

  PtrInterface const* notifierBase() const noexcept { return notifier_.ptr(); }

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
  void notifierBaseIs(Ptr<PtrInterface const> const& notifier);
  void zombieIs(bool zombie) noexcept { zombie_ = zombie; }

 private:
  void attach();
  void detach();

  Ptr<PtrInterface const> notifier_;
  bool registered_ = false;
  bool zombie_ = false;
  bool onList_ = false;
};

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
    notifierBaseIs(Ptr<PtrInterface const>(notifier));
  }
};

}  // namespace Vorn
