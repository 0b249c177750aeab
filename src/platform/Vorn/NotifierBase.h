// Vorn::NotifierBase — the base of counted objects that others observe (a
// reactor's notifier): it keeps their observers and delivers their changes.
//
// OVERVIEW
//   Entities (Vorn::Entity) derive from NotifierBase; objects nobody observes
//   (reactors, state machines, shared handles) derive from Vorn::PtrInterface
//   alone and carry no observer storage. Reactors (PtrInterface::NotifieeConst,
//   Vorn/Notifiee.h) register and unregister themselves here; `notify` calls
//   `onAttribute(attribute, key)` on each of them.
//
// GUARANTEES
//   - Delivery is synchronous and happens only while this object's
//     notification is on (`hasNotificationActive()`, off until switched on).
//     Each registered reactor present when the delivery starts is called once,
//     in registration order, unless it is switched off, marked for deletion,
//     or unregistered before its turn. Reactors registered during a delivery
//     see the next change. Deliveries nest (a handler may change the object
//     again).
//   - A reactor may detach itself or others, register new ones, or drop the
//     last reference to this object or to itself while being delivered to:
//     notify() holds this object (when it is owned through a Ptr) and each
//     reactor alive across its handler.
//   - The observers take one word: nothing while there are none, the reactor
//     itself while there is one, a heap NotifieeList from the second on (given
//     back once fewer than two are left and no delivery runs). With the 16-bit
//     delivery counter in PtrInterface's spare bytes, sizeof(NotifierBase)
//     is three pointers on 64-bit targets.
//   - Copying an object copies neither its count nor its observers.
//
// WARNING
//   Single event thread: delivery and registration are not synchronised. An
//   object must not be destroyed while one of its deliveries runs (asserted).
//
// TYPICAL USAGE
//   class Box : public Vorn::NotifierBase {  // usually through Vorn::Entity
//     void labelIs(std::string l) { label_ = std::move(l); notify(attrLabel, Vorn::Key()); }
//   };
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Vorn/Ptr.h"

namespace Vorn {

class Key;
using AttributeId = std::uint32_t;

// The observers of a notifier that has two or more. The notifier owns it: it
// creates the list when a second observer registers and frees it once fewer
// than two are left and no delivery runs. Removal during a delivery leaves a
// hole, compacted once the outermost delivery returns.
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

class NotifierBase : public PtrInterface {
 public:
  NotifierBase() noexcept = default;
  NotifierBase(NotifierBase const& o) noexcept : PtrInterface(o) {}
  NotifierBase& operator=(NotifierBase const&) = delete;
  ~NotifierBase() override;

  // Number of observers registered on this object.
  std::size_t notifieeCount() const noexcept;
  // The heap list of observers: present only while two or more are registered,
  // or while a delivery that saw two or more is still running. Null otherwise
  // (no observer, or the one observer kept inline).
  NotifieeList* notifieeList() const noexcept {
    return (observers_ & kListTag) ? reinterpret_cast<NotifieeList*>(observers_ & ~kListTag) : nullptr;
  }

 protected:
  // Delivers a change of `attribute` (with `key`, absent for scalars) to every
  // registered, active observer, synchronously, if this object's notification
  // is on (see GUARANTEES).
  void notify(AttributeId attribute, Key const& key) const;

 private:
  friend class PtrInterface::NotifieeConst;
  // Low bit of observers_: set when the word holds a NotifieeList*, clear when
  // it holds the single observer's NotifieeConst* (both are 8-aligned).
  static constexpr std::uintptr_t kListTag = 1;

  void observerAdd(NotifieeConst* n) const;
  void observerDel(NotifieeConst* n) const;
  // Outside any delivery: drops holes, and gives back a list that has fewer
  // than two observers left.
  void observersTidy() const noexcept;

  // Deliveries of this object's changes now running (nested ones counted).
  // Declared first: it fits in PtrInterface's spare bytes.
  mutable std::uint16_t deliveries_ = 0;
  // 0, a NotifieeConst* (one observer) or a NotifieeList* | kListTag.
  mutable std::uintptr_t observers_ = 0;
};

static_assert(sizeof(void*) != 8 || sizeof(NotifierBase) == sizeof(PtrInterface) + sizeof(void*),
              "a notifier's observer storage is one word over PtrInterface");

}  // namespace Vorn
